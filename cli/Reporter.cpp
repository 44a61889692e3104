#include "cli/Reporter.h"

#include <chrono>
#include <ctime>
#include <iostream>
#include <mutex>

#include "cli/ReportEvent.h"
#include "common/Utf8.h"
#include "platform/Console.h"

namespace {

constexpr char kClearLine[] = "\r\033[K";
constexpr char kLineUp[] = "\033[A";
constexpr size_t kLeastWidth = 20;

// The first `columns` characters of a UTF-8 text, a character a column (as
// the plan reader counts them), never cut inside one.
std::string FirstColumns(const std::string& text, size_t columns) {
    size_t characters = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        if (!ContinuesUtf8Character(text[at]) && characters++ == columns) {
            return text.substr(0, at);
        }
    }
    return text;
}

std::string Prefixed(const std::string& message) {
    return "velquint: " + message;
}

class LineReporter : public Reporter {
public:
    explicit LineReporter(std::ostream& out) : out_(out) {}
    void Event(const ReportEvent& event) override {
        if (!event.minor) {
            Line(event.text);
        }
    }
    void Warn(const std::string& message) override { Line("warning: " + message); }
    void Info(const std::string& message) override { Line(message); }
    void Finish() override {}

private:
    void Line(const std::string& text) { out_ << Prefixed(text) << '\n' << std::flush; }
    std::ostream& out_;
};

class TerminalReporter : public Reporter {
public:
    TerminalReporter(std::ostream& out, size_t width, size_t height)
        : out_(out), width_(std::max(width, kLeastWidth)), height_(height) {}
    // The lines of the terminal but one, kept for the cursor.
    size_t BoardRoom() const override { return height_ > 1 ? height_ - 1 : 0; }
    void Event(const ReportEvent& event) override {
        if (!board_) {
            Draw({event.text});
        }
    }
    void Board(const std::vector<std::string>& lines) override {
        board_ = true;
        Draw(lines);
    }
    void Warn(const std::string& message) override { Line("warning: " + message); }
    void Info(const std::string& message) override { Line(message); }
    void Finish() override {
        if (!shown_.empty()) {
            Clear();
            out_ << std::flush;
            shown_.clear();
        }
    }

private:
    // Back to the first line of what is shown, each line cleared on the way.
    void Clear() {
        out_ << kClearLine;
        for (size_t i = 1; i < shown_.size(); ++i) {
            out_ << kLineUp << kClearLine;
        }
    }
    // The lines, each cut so that it never wraps: a wrapped line could not be
    // redrawn in place.
    void Draw(const std::vector<std::string>& lines) {
        Clear();
        shown_.clear();
        for (const std::string& line : lines) {
            shown_.push_back(FirstColumns(line, width_ - 1));
        }
        Show();
    }
    void Show() {
        for (size_t i = 0; i < shown_.size(); ++i) {
            out_ << (i == 0 ? "" : "\n") << shown_[i];
        }
        out_ << std::flush;
    }
    // A message above what is shown, which is drawn again below it.
    void Line(const std::string& text) {
        Clear();
        out_ << Prefixed(text) << '\n';
        Show();
    }

    std::ostream& out_;
    size_t width_;
    size_t height_;
    std::vector<std::string> shown_;
    bool board_ = false;
};

// "2026-12-08T21:41:42.123Z": UTC, to the millisecond.
std::string Timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    {
        // std::gmtime's result is shared by the whole process (on Linux).
        static std::mutex shared;
        const std::lock_guard<std::mutex> lock(shared);
        utc = *std::gmtime(&seconds);
    }
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(milliseconds));
    return text;
}

class JsonLinesReporter : public Reporter {
public:
    explicit JsonLinesReporter(std::ostream& out) : out_(out) {}
    void Event(const ReportEvent& event) override { Write(event); }
    void Warn(const std::string& message) override { Write({"warning", "", message}); }
    void Info(const std::string& message) override { Write({"info", "", message}); }
    void Finish() override {}

private:
    void Write(const ReportEvent& event) {
        nlohmann::ordered_json line = {{"time", Timestamp()}, {"event", event.event}};
        if (!event.subject.empty()) {
            line["mac"] = event.subject;
        }
        line["message"] = event.text;
        for (const auto& [key, value] : event.values.items()) {
            line[key] = value;
        }
        out_ << line.dump() << '\n' << std::flush;
    }
    std::ostream& out_;
};

}  // namespace

std::unique_ptr<Reporter> MakeReporter(ReporterKind kind, std::ostream& out, size_t width,
                                       size_t height) {
    switch (kind) {
        case ReporterKind::Terminal:
            return std::make_unique<TerminalReporter>(out, width, height);
        case ReporterKind::JsonLines:
            return std::make_unique<JsonLinesReporter>(out);
        case ReporterKind::Lines:
            break;
    }
    return std::make_unique<LineReporter>(out);
}

std::unique_ptr<Reporter> ChooseReporter(bool jsonLines) {
    if (jsonLines) {
        return MakeReporter(ReporterKind::JsonLines, std::cout);
    }
    const StderrTerminal terminal = InspectStderr();
    return MakeReporter(terminal.redraws ? ReporterKind::Terminal : ReporterKind::Lines, std::cerr,
                        terminal.columns, terminal.lines);
}
