#include "config/Scrambler.h"

#include <nettle/des.h>

#include <array>
#include <cstring>

namespace velmora {

namespace {

using Block = std::array<uint8_t, DES_BLOCK_SIZE>;

// Fixed constants: changing either makes every stored password unreadable.
constexpr Block kKey = {0x5C, 0x1E, 0x93, 0xA0, 0x7B, 0x2D, 0x46, 0xF8};
constexpr Block kIv = {0xE4, 0x07, 0x7A, 0x3C, 0x91, 0xB0, 0x5D, 0x26};

des_ctx MakeContext()
{
    // DES ignores the parity bits, but a key schedule may insist on them;
    // fixing them on a copy leaves the cipher's result unchanged.
    Block key;
    des_fix_parity(key.size(), key.data(), kKey.data());
    des_ctx ctx;
    des_set_key(&ctx, key.data()); // not a weak key: the known answers prove it
    return ctx;
}

} // namespace

QByteArray ScramblePassword(const QByteArray &bytes, ScrambleDirection dir)
{
    const des_ctx ctx = MakeContext();
    QByteArray out(bytes.size(), Qt::Uninitialized);
    const auto *in = reinterpret_cast<const uint8_t *>(bytes.constData());
    auto *dst = reinterpret_cast<uint8_t *>(out.data());
    const qsizetype n = bytes.size();

    Block chain = kIv;
    qsizetype pos = 0;
    for (; pos + DES_BLOCK_SIZE <= n; pos += DES_BLOCK_SIZE) {
        Block block;
        if (dir == ScrambleDirection::Scramble) {
            for (int i = 0; i < DES_BLOCK_SIZE; ++i)
                block[i] = in[pos + i] ^ chain[i];
            des_encrypt(&ctx, DES_BLOCK_SIZE, dst + pos, block.data());
            std::memcpy(chain.data(), dst + pos, DES_BLOCK_SIZE);
        } else {
            des_decrypt(&ctx, DES_BLOCK_SIZE, block.data(), in + pos);
            for (int i = 0; i < DES_BLOCK_SIZE; ++i)
                dst[pos + i] = block[i] ^ chain[i];
            std::memcpy(chain.data(), in + pos, DES_BLOCK_SIZE);
        }
    }

    // The tail is XORed with the encryption of the last ciphertext block in
    // both directions, which makes this part its own inverse.
    if (pos < n) {
        Block stream;
        des_encrypt(&ctx, DES_BLOCK_SIZE, stream.data(), chain.data());
        for (qsizetype i = 0; pos + i < n; ++i)
            dst[pos + i] = in[pos + i] ^ stream[i];
    }
    return out;
}

} // namespace velmora
