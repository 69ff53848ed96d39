// A white 32-bit image for pictures of hundreds of megabytes (the fan chart reaches 12800 x 12800).
// Its pixel buffer is aligned to 2 MB and, on Linux, asked for huge pages, so that touching it costs a
// few hundred page faults instead of a hundred thousand. The image owns the buffer (freed with the last
// copy of the image); it is an ordinary writable QImage otherwise. 96 DPI, like TImageCanvas pictures.
#pragma once

#include <QImage>

namespace platform {

// A null image when w or h is not positive or the memory cannot be had.
QImage NewLargeWhiteImage(int w, int h);

}  // namespace platform
