#pragma once

#include <QString>

// Turns a program's --help text into the roff of its manual page's options
// section, so that the page and the program never disagree about an option.
//
// The help text is read as blocks separated by blank lines. What comes before
// the first block with an option list (the usage line, the one-line summary)
// is left out: the page's synopsis and description say it in their own words.
// A block's option lines ("  --name ARG   what it does") become tagged
// paragraphs, indented lines under one continue its description, and other
// lines become plain paragraphs. An option line that follows a description
// ending in a comma shares that description (two options explained together).
class HelpToRoff
{
public:
    static QString options(const QString& help);

    // One line of running text, safe to place on a roff text line: a leading
    // control character neutralised, backslashes and non-ASCII characters
    // escaped, and the hyphens of option names ("--noise") written as minus
    // signs so that they can be copied into a shell.
    static QString escape(const QString& text);
};
