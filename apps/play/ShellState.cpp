#include "apps/play/ShellState.h"

ShellState shell;
