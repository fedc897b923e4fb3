#include "frmOptions.h"
