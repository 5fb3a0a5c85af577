#include "PreloadJob.h"

#include <memory>
#include <random>
#include <vector>

#include "engines/T89s.h"
#include "engines/Tavr.h"
#include "engines/TpicA.h"
#include "sim/AvrChip.h"

namespace tondrel::preload {

JobOutcome RunJob(const std::string& chip, int32_t bytes, uint32_t seed, PortIo& io, Clock& clock) {
    JobOutcome out;
    CurrentChip current;
    current.CurrentChipName = chip;
    EngineEnv env{&io, &clock, &current};
    std::unique_ptr<Tpro> engine;
    bool pic = false;
    if (chip == "AT89S52") {
        current.CurrentMethodCode = Method::At89s;
        current.FlashSize = 8192;
        engine = std::make_unique<T89s>(env);
    } else if (chip == "AT89S8252") {
        current.CurrentMethodCode = Method::At89s8252;
        current.FlashSize = 8192;
        current.EEPROMSize = 2048;
        engine = std::make_unique<T89s8252>(env);
    } else if (chip == "ATmega16") {
        const sim::AvrFacts* facts = sim::FindAvrFacts("ATMEGA16");
        current.CurrentMethodCode = Method::Avr;
        current.FlashSize = facts->FlashSize;
        current.EEPROMSize = facts->EepromSize;
        current.CurrentPageSize = facts->PageSize;
        engine = std::make_unique<Tavr>(env);
    } else if (chip == "PIC16F877A") {
        current.FlashSize = 16384;
        current.EEPROMSize = 256;
        engine = std::make_unique<TpicA>(env);
        pic = true;
    } else {
        out.Error = "the job knows no chip called " + chip;
        return out;
    }
    engine->InitPinMap();
    engine->SetPortBase(0x378);

    std::mt19937 random(seed);
    std::vector<uint8_t> image(static_cast<size_t>(bytes));
    for (auto& b : image) b = static_cast<uint8_t>(random());
    if (image.size() > 40) image[32] = image[33] = 0xFF;  // erased bytes among the data
    if (pic)                                              // program words are 14 bits wide
        for (size_t i = 1; i < image.size(); i += 2) image[i] &= 0x3F;

    (void)engine->EnterProgramming();
    out.Signature = engine->ReadSignature().ValueOr("");
    (void)engine->LeaveProgramming();

    (void)engine->EnterProgramming();
    (void)engine->EraseChip();
    (void)engine->LeaveProgramming();

    current.FlashDataEnd = bytes - 1;
    (void)engine->EnterProgramming();
    for (int32_t a = 0; a < bytes && out.FailedWrite < 0; ++a)
        if (!engine->WriteFlashByte(a, image[static_cast<size_t>(a)])) out.FailedWrite = a;
    (void)engine->LeaveProgramming();

    (void)engine->EnterProgramming();
    out.ReadBackMatches = true;
    for (int32_t a = 0; a < bytes; ++a) {
        const Result<uint8_t> got = engine->ReadFlashByte(a);
        if (!got || *got != image[static_cast<size_t>(a)]) out.ReadBackMatches = false;
    }
    (void)engine->LeaveProgramming();
    return out;
}

}  // namespace tondrel::preload
