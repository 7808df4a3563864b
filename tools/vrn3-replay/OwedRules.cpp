// The stream brick's rules, from the stream's records.
#include "OwedRules.h"

#include "../../records/Codes.h"
#include "../../records/ControlRecords.h"

namespace {

constexpr uint8_t kData = 0; // CBrickRules' number of the data path

// A ready notification echoes the four values of the reset it answers.
bool Echoes(const void* reset, const void* answer)
{
    const auto* r = static_cast<const TVRN3ResetNotify*>(reset);
    const auto* a = static_cast<const TReadyNotification*>(answer);
    return a->value1 == r->value1 && a->value2 == r->value2 && a->value3 == r->value3 && a->flag == r->flag;
}

} // namespace

CBrickRules OwedRules::For(const TBrickConfig& config)
{
    CBrickRules rules;
    if (config.input.recordCode != kCodeDat3)
        return rules;
    rules.judgeAnswers = true;
    rules.mayRefuse = {{kData, kCodeVid3}, {kData, kCodeHdr3}};
    rules.resetCode = kCodeRset;
    rules.answerCode = kCodeRdy;
    rules.answers = Echoes;
    return rules;
}
