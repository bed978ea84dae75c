#include "PacketCopyShuffles.h"

#include <initializer_list>

namespace packet_copy {
namespace shuffle {

namespace {

Tables MakeTables() {
    Tables t;
    auto clear = [](Bytes16& v) {
        for (int8_t& x : v.b) x = kZero;
    };
    for (Bytes16* v : {&t.twoA[0], &t.twoA[1], &t.twoA[2], &t.twoB[0], &t.twoB[1], &t.twoB[2], &t.splitA[0],
                       &t.splitA[1], &t.splitB[0], &t.splitB[1], &t.spread, &t.compact, &t.markerA[0], &t.markerA[1],
                       &t.markerA[2], &t.markerB[0], &t.markerB[1], &t.markerB[2]}) {
        clear(*v);
    }
    // Interleave: output byte j of 8 frames is byte j % 6 of frame j / 6;
    // vector 0 takes a and b from offset 0, vector 1 a from 8 and b from 0,
    // vector 2 both from 8.
    const int loadA[3] = {0, 8, 8}, loadB[3] = {0, 0, 8};
    for (int j = 0; j < 48; ++j) {
        const int frame = j / 6, r = j % 6, k = j / 16;
        if (r < 3) {
            t.twoA[k].b[j % 16] = static_cast<int8_t>(frame * 3 + r - loadA[k]);
        } else {
            t.twoB[k].b[j % 16] = static_cast<int8_t>(frame * 3 + r - 3 - loadB[k]);
        }
        // The marker bytes: a's at 6i + 2, b's at 6i + 5.
        if (r == 2) t.markerA[k].b[j % 16] = static_cast<int8_t>(frame % 4);
        if (r == 5) t.markerB[k].b[j % 16] = static_cast<int8_t>(frame % 4);
    }
    // Deinterleave: sample i's byte r of a lies at 6i + r, of b at 6i + 3 + r.
    for (int i = 0; i < 4; ++i) {
        for (int r = 0; r < 3; ++r) {
            const int a = 6 * i + r, b = a + 3;
            if (a < 16) t.splitA[0].b[3 * i + r] = static_cast<int8_t>(a);
            else t.splitA[1].b[3 * i + r] = static_cast<int8_t>(a - 8);
            if (b < 16) t.splitB[0].b[3 * i + r] = static_cast<int8_t>(b);
            else t.splitB[1].b[3 * i + r] = static_cast<int8_t>(b - 8);
            t.spread.b[4 * i + r] = static_cast<int8_t>(3 * i + r);
            t.compact.b[3 * i + r] = static_cast<int8_t>(4 * i + r);
        }
    }
    return t;
}

}  // namespace

const Tables& TheTables() {
    static const Tables tables = MakeTables();
    return tables;
}

}  // namespace shuffle
}  // namespace packet_copy
