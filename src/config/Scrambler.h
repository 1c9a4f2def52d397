#pragma once
// The mail password never reaches the settings file in plain text: it is
// scrambled with DES under a fixed key, chained CBC-style with a residual
// block so the output is exactly as long as the input (no padding).
#include <QByteArray>

namespace velmora {

enum class ScrambleDirection { Scramble, Unscramble };

// Gives a byte string of the same length as `bytes`. Unscramble undoes
// Scramble for every length, including 0.
QByteArray ScramblePassword(const QByteArray &bytes, ScrambleDirection dir);

} // namespace velmora
