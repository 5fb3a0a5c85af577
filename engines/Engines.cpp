#include "engines/Engines.h"

#include <utility>

#include "engines/T89s.h"
#include "engines/Tavr.h"
#include "engines/Tpic.h"
#include "engines/TpicA.h"

namespace tondrel {

namespace {

template <typename Engine>
std::unique_ptr<Tpro> Make(EngineEnv& env) {
    return std::make_unique<Engine>(env);
}

using Factory = std::unique_ptr<Tpro> (*)(EngineEnv&);
constexpr std::pair<Method, Factory> kEngines[] = {
    {Method::Pic, Make<Tpic>},           {Method::At89s, Make<T89s>},
    {Method::At89s53, Make<T89s53>},     {Method::At89s8252, Make<T89s8252>},
    {Method::At89s8253, Make<T89s8253>}, {Method::Avr, Make<Tavr>},
    {Method::PicA, Make<TpicA>},
};

}  // namespace

std::unique_ptr<Tpro> MakeEngine(Method method, EngineEnv& env) {
    for (const auto& [m, make] : kEngines)
        if (m == method) return make(env);
    return std::make_unique<Tpro>(env);
}

}  // namespace tondrel
