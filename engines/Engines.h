#pragma once
// The engine of each programming method.
#include <memory>

#include "common/Method.h"
#include "engines/Tpro.h"

namespace tondrel {

// A new engine for `method`; a plain Tpro (the pin layer alone) for Method::None.
std::unique_ptr<Tpro> MakeEngine(Method method, EngineEnv& env);

}  // namespace tondrel
