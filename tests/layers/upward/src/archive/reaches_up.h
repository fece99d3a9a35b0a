// An archive header that reaches up into the shell: the check must refuse it.
#pragma once
#include "archive/tables.h"
#include "runtime/text.h"
#include "shell/globals.h"
