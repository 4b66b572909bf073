// Stands in for the Windows SDK header of this name on other systems.
#pragma once
#include "winapi/wbem.h"
