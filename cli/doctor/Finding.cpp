#include "cli/doctor/Finding.h"

const char* SeverityWord(Severity severity) {
    switch (severity) {
        case Severity::Ok:
            return "ok";
        case Severity::Note:
            return "note";
        case Severity::Warning:
            return "warning";
        case Severity::Problem:
            return "problem";
    }
    return "problem";
}
