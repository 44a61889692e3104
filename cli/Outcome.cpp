#include "cli/Outcome.h"

std::string RowOutcome::Sentence() const {
    return std::string(Text()) + (detail.empty() ? "" : " (" + detail + ")");
}

OutcomeKind KindOf(CommissionOutcome outcome) {
    switch (outcome) {
        case CommissionOutcome::Verified:
            return OutcomeKind::Verified;
        case CommissionOutcome::Confirmed:
            return OutcomeKind::Confirmed;
        case CommissionOutcome::NotConfirmed:
            return OutcomeKind::NotConfirmed;
        case CommissionOutcome::NotBack:
            return OutcomeKind::NotBack;
        case CommissionOutcome::OtherValues:
            return OutcomeKind::OtherValues;
        case CommissionOutcome::IdNotWritten:
            return OutcomeKind::IdNotWritten;
        case CommissionOutcome::Interrupted:
            break;
    }
    return OutcomeKind::Interrupted;
}

std::string OutcomeTokensText() {
    std::string text;
    for (const OutcomeEntry& entry : kOutcomes) {
        text += (text.empty() ? "" : ", ") + std::string(entry.token) + " (" + entry.text + ")";
    }
    return text;
}
