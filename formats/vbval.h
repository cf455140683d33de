#pragma once
// Reading numbers out of text the way the update launcher reads revision
// numbers from the update server and from file versions.
#include <QString>
#include <QtGlobal>

// The number at the start of `text`. Blanks, tabs and line feeds are skipped
// wherever they stand, also between digits ("1 2" reads 12). Then an
// optional sign, digits with at most one '.', and an optional exponent (E,
// e, D or d, optional sign, digits); or "&H"/"&O" (any case) and a
// hexadecimal/octal integer, taken at its full unsigned value ("&HFFFF" is
// 65535, not a 16-bit -1). Reading stops at the first other character, a
// carriage return included. No number gives 0; a number too large for a
// double gives +/- infinity, which RoundToLong reports as an overflow.
double ReadLeadingNumber(const QString& text);

// `v` rounded to the nearest 32-bit signed integer, halves to the even
// neighbour (12.5 -> 12, 13.5 -> 14). Out of range, infinite or NaN: throws
// the runtime error Overflow.
qint32 RoundToLong(double v);

// True when the whole of `text`, apart from blanks around it, is one
// decimal number (sign, digits with at most one '.', optional exponent);
// `value` then holds it. "0015" reads 15; "15a", "" and "1.2.3" do not read.
bool ReadWholeNumber(const QString& text, double& value);
