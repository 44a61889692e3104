#include "cli/HelpText.h"

#include <sstream>

namespace {

constexpr int kMillisecondsPerSecond = 1000;
constexpr int kTenths = 100;

}  // namespace

std::string Duration(int milliseconds) {
    if (milliseconds < kMillisecondsPerSecond) {
        return std::to_string(milliseconds) + " ms";
    }
    std::string text = std::to_string(milliseconds / kMillisecondsPerSecond);
    if (milliseconds % kMillisecondsPerSecond != 0) {
        text += "." + std::to_string(milliseconds % kMillisecondsPerSecond / kTenths);
    }
    return text + " s";
}

std::string Wrapped(const std::string& text, size_t width) {
    std::string wrapped;
    std::istringstream paragraphs(text);
    std::string paragraph;
    bool first = true;
    while (std::getline(paragraphs, paragraph)) {
        if (!first) {
            wrapped += '\n';
        }
        first = false;
        std::istringstream words(paragraph);
        std::string word;
        size_t lineLength = 0;
        while (words >> word) {
            if (lineLength > 0 && lineLength + 1 + word.size() > width) {
                wrapped += '\n';
                lineLength = 0;
            } else if (lineLength > 0) {
                wrapped += ' ';
                ++lineLength;
            }
            wrapped += word;
            lineLength += word.size();
        }
    }
    return wrapped;
}
