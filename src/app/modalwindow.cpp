#include "modalwindow.h"
