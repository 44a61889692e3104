#pragma once

#include <string>

// Help texts are written as paragraphs and wrapped here, so that they can be
// built from the constants they describe rather than repeat them.

// "0.4 s", "2 s", "100 ms": a time as the help says it.
std::string Duration(int milliseconds);

// `text` wrapped to lines of at most `width` characters; paragraphs (blank
// lines) stay apart.
std::string Wrapped(const std::string& text, size_t width = 78);
