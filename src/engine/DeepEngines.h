#pragma once
// The deep engines, in the order the deep pass offers them a sector. The carver
// is always last: it takes what no file system claimed.
#include "engine/IDeepEngine.h"

#include <memory>
#include <vector>

std::vector<std::unique_ptr<IDeepEngine>> NewDeepEngines();
