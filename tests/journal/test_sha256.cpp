// SHA-256 as the journal uses it, against published digests: built into the
// native tests (OpenSSL) and the Wine tests (BCrypt), since each build links
// its own.
#include <gtest/gtest.h>

#include "JournalTestSupport.h"

namespace kes_journal_test {
namespace {

TEST(Sha256, KnownDigestsInOneOrManyPieces) {
    EXPECT_EQ(Hex(Hash(ToBytes(""))), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Hex(Hash(ToBytes("abc"))), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const Bytes million(1000000, 'a');
    kes::journal::Sha256 pieces;
    for (size_t at = 0; at < million.size(); at += 4093)
        pieces.Update(million.data() + at, std::min<size_t>(4093, million.size() - at));
    EXPECT_EQ(Hex(pieces.Final().value()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // A digest is given once: a second one would be of nothing.
    EXPECT_FALSE(pieces.Final());
}

}  // namespace
}  // namespace kes_journal_test
