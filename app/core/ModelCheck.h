// Structural checks of a loaded model, used after every reader test and by the reader's fuzz target.
// It checks what every load must leave behind, whatever the input: the empty element 0 of each array,
// links in range of the other array, and associations that have their counterpart on the target.
#pragma once

#include "app/core/Model.h"

#include <QStringList>

// The broken rules, one line each ("aFam[3].CHIL[0] = 17 out of range"); empty when the model is sound.
QStringList CheckModel(const Model& m);
