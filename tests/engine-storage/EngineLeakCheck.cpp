// The storage tests use the same per-test check for leaked engine memory blocks as the foundation
// tests.
#include "tests/engine-foundation/EngineLeakCheck.cpp"
