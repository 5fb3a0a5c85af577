#include "common/Method.h"

namespace tondrel {

namespace {

// Indexed by code + 1, so that None sits in front.
constexpr std::array<MethodTraits, 8> kTraits = {{
    // id                code class       pic    words  sig    3FFF
    {Method::None, -1, "Tpro", false, false, false, false},
    {Method::Pic, 0, "Tpic", true, true, true, true},
    {Method::At89s, 1, "T89s", false, false, true, false},
    {Method::At89s53, 2, "T89s53", false, false, false, false},
    {Method::At89s8252, 3, "T89s8252", false, false, false, false},
    {Method::At89s8253, 4, "T89s8253", false, false, false, false},
    {Method::Avr, 5, "Tavr", false, true, true, false},
    {Method::PicA, 6, "TpicA", true, true, true, false},
}};

}  // namespace

const MethodTraits& Traits(Method method) {
    const auto index = static_cast<size_t>(static_cast<int>(method) + 1);
    return index < kTraits.size() ? kTraits[index] : kTraits[0];
}

int32_t MethodCode(Method method) {
    return Traits(method).Code;
}

Method MethodFromCode(int64_t code) {
    for (const MethodTraits& t : kTraits)
        if (t.Id != Method::None && t.Code == code) return t.Id;
    return Method::None;
}

}  // namespace tondrel
