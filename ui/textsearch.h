#pragma once

#include <QString>

#include <vector>

// Finding text in the code, as typed or by its commands alone.

struct SearchOptions
{
    bool caseSensitive = false;
    // Match the commands of the pattern against those of the text, as compiling reads both:
    // whatever else stands between them (comments, blanks, line breaks) is passed over.
    bool commandsOnly = false;
};

// The characters of a match, start to end (exclusive). A commands-only match also lists the
// offsets of its commands, in order; the characters between them are not part of the program.
struct TextMatch
{
    int start = -1;
    int end = -1;
    std::vector<int> commands;
    bool isValid() const { return start >= 0; }
};

// Whether pattern holds a command that compiling would keep.
bool holdsCommand(const QString &pattern);

// The matches of pattern in text, left to right, none overlapping another; none for an empty
// pattern or, commands only, a pattern without commands.
std::vector<TextMatch> findAll(const QString &text, const QString &pattern, SearchOptions options);

// The first match starting at or after from or, backward, the last one ending at or before
// from. Without one there, the search goes on from the other end of the text and sets
// *wrapped (when given); an invalid match when there is none at all.
TextMatch findNext(const QString &text, const QString &pattern, int from, bool backward,
    SearchOptions options, bool *wrapped = nullptr);
