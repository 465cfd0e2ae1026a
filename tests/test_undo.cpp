#include "BatchRunFixture.h"
