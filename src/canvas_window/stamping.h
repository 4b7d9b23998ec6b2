// The random generator behind random stamping, exposed so tests can start it afresh.
#pragma once

#include <cstdint>

// The next value of the stamp generator, 0 to 32767.
int32_t NextStampRandom();
// For tests only: puts the generator back to its state at program start (1), or to the given
// state. The program itself never reseeds it.
void ResetStampRandom(uint32_t state = 1);
