#pragma once

#include "historylog.h"
