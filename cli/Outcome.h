#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "commission/Commission.h"

// How one device's commissioning ended, as every command says it: a stable
// token for programs, a text for people, whether it counts as a success, and
// what it means (for --help and the manual). One table holds them all.

enum class OutcomeKind : uint8_t {
    Verified,      // every asked value seen, the ID (if asked) read back
    AlreadySet,    // had every value, no ID asked: nothing sent
    Confirmed,     // confirmed, not waited for (setup without --verify)
    NotConfirmed,  // no confirmation, and not seen with the asked values
    NotBack,       // confirmed, then not seen again in time
    OtherValues,   // confirmed, but seen with other values
    IdNotWritten,  // back with the asked values; the ID failed or read back otherwise
    NotFound,      // did not answer the search
    Interrupted,   // the run was stopped (Ctrl-C, SIGTERM) before the row ended
    Refused,       // the row cannot be carried out on its device (a station's)
};

struct OutcomeEntry {
    OutcomeKind kind;
    const char* token;
    const char* text;
    bool success;
    const char* meaning;
};

constexpr OutcomeEntry kOutcomes[] = {
    {OutcomeKind::Verified, "verified", "applied and verified", true,
     "the last search showed every asked value, and the ID, if asked, read back as asked"},
    {OutcomeKind::AlreadySet, "already-set", "already set", true,
     "the device had every value and no ID was asked; nothing was sent"},
    {OutcomeKind::Confirmed, "confirmed", "confirmed", true,
     "the device confirmed the setup, and nothing waited for it to come back (setup without "
     "--verify)"},
    {OutcomeKind::NotConfirmed, "not-confirmed", "not confirmed", false,
     "no confirmation, and the device was never seen with the asked values"},
    {OutcomeKind::NotBack, "not-back", "confirmed but not back", false,
     "confirmed, then no answer to the searches in time"},
    {OutcomeKind::OtherValues, "other-values", "confirmed but reports other values", false,
     "confirmed, but the device answers with other values than asked"},
    {OutcomeKind::IdNotWritten, "id-not-written", "ID not written", false,
     "the device is back with the asked values, but its ID failed or read back otherwise"},
    {OutcomeKind::NotFound, "not-found", "not found", false,
     "the device did not answer the search (with --allow-missing, and with --watch for a row "
     "whose device never came)"},
    {OutcomeKind::Interrupted, "interrupted", "stopped", false,
     "the run was stopped by Ctrl-C or SIGTERM before the row ended"},
    {OutcomeKind::Refused, "refused", "refused", false,
     "(with --watch) the row could not be carried out on the device that came: it reports no "
     "value the row needs, or another device has the target IP"},
};

// Every kind stands at its own place in the table, once.
constexpr bool OutcomesInOrder() {
    for (size_t i = 0; i < std::size(kOutcomes); ++i) {
        if (static_cast<size_t>(kOutcomes[i].kind) != i) {
            return false;
        }
    }
    return static_cast<size_t>(OutcomeKind::Refused) + 1 == std::size(kOutcomes);
}
static_assert(OutcomesInOrder(), "kOutcomes lists every OutcomeKind once, in the enum's order");

constexpr const OutcomeEntry& OutcomeOfKind(OutcomeKind kind) {
    return kOutcomes[static_cast<size_t>(kind)];
}

// One row's outcome, and the detail that says why.
struct RowOutcome {
    OutcomeKind kind = OutcomeKind::NotConfirmed;
    std::string detail;

    const char* Token() const { return OutcomeOfKind(kind).token; }
    const char* Text() const { return OutcomeOfKind(kind).text; }
    bool Good() const { return OutcomeOfKind(kind).success; }
    // "applied and verified (no confirmation came; ...)": the text, and the
    // detail in brackets when there is one.
    std::string Sentence() const;
};

// The kind of outcome a commissioning task's outcome is.
OutcomeKind KindOf(CommissionOutcome outcome);

// "verified (applied and verified), already-set (already set), ...": every
// token with its text, for --help.
std::string OutcomeTokensText();
