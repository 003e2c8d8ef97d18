// A ui header reaching up into control: the check must refuse this tree.
#pragma once
#include "protocol/runstate.h"
#include "control/runcontrol.h"
