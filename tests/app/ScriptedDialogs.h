// The scripted answers are shared by the tests of both programs.
#pragma once

#include "../TestSupport/ScriptedDialogs.h"
