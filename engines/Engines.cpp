#include "engines/Engines.h"

#include "engines/T89s.h"
#include "engines/T89s53.h"
#include "engines/T89s8252.h"
#include "engines/T89s8253.h"
#include "engines/Tavr.h"
#include "engines/Tpic.h"
#include "engines/TpicA.h"

namespace tondrel {

std::unique_ptr<Tpro> MakeEngine(Method method, EngineEnv& env) {
    switch (method) {
        case Method::Pic:
            return std::make_unique<Tpic>(env);
        case Method::At89s:
            return std::make_unique<T89s>(env);
        case Method::At89s53:
            return std::make_unique<T89s53>(env);
        case Method::At89s8252:
            return std::make_unique<T89s8252>(env);
        case Method::At89s8253:
            return std::make_unique<T89s8253>(env);
        case Method::Avr:
            return std::make_unique<Tavr>(env);
        case Method::PicA:
            return std::make_unique<TpicA>(env);
        case Method::None:
            break;
    }
    return std::make_unique<Tpro>(env);
}

}  // namespace tondrel
