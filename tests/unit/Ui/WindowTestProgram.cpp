// This program opens windows: its private X server and whole leak stacks (see WindowTestProgram.h).
#include "WindowTestProgram.h"
