#include "Tokenizers/TokenLattice.hpp"
#include "Tokenizers/Trie.hpp"

#include <gtest/gtest.h>

using namespace tokenizers;
using Chars = std::vector<char>;
using Strings = std::vector<std::string>;

namespace {

std::vector<Chars> drain(LeavesWithCommonPrefixIterator<char> iterator)
{
    std::vector<Chars> found;
    while (auto prefix = iterator.next()) {
        found.push_back(*prefix);
    }
    return found;
}

} // namespace

TEST(Trie, CommonPrefixSearchFindsInsertedPrefixesShortestFirst)
{
    const Chars abc {'a', 'b', 'c'};
    Trie<char> trie;
    trie.append({{'a'}, {'a', 'b', 'c'}, {'a'}});
    EXPECT_EQ(trie.commonPrefixSearch(abc), (std::vector<Chars> {{'a'}, {'a', 'b', 'c'}}));
    EXPECT_EQ(drain(trie.commonPrefixSearchIterator(abc)), trie.commonPrefixSearch(abc));

    Trie<char> branches;
    branches.append({{'a', 'b'}, {'a', 'b', 'd'}});
    EXPECT_EQ(branches.commonPrefixSearch(abc), (std::vector<Chars> {{'a', 'b'}}));
    EXPECT_EQ(drain(branches.commonPrefixSearchIterator(abc)), (std::vector<Chars> {{'a', 'b'}}));
    EXPECT_TRUE(branches.commonPrefixSearch(Chars {'x', 'a'}).empty());
    EXPECT_TRUE(drain(branches.commonPrefixSearchIterator(Chars {'x', 'a'})).empty());

    // The empty sequence is stored but never reported: only consumed elements produce results.
    Trie<char> empty;
    empty.insert(Chars {});
    EXPECT_TRUE(empty.root->isLeaf);
    EXPECT_TRUE(empty.commonPrefixSearch(abc).empty());
    EXPECT_TRUE(drain(empty.commonPrefixSearchIterator(abc)).empty());

    // get: any node on a path, leaf or not; copies share nodes.
    const auto ab = branches.get(Chars {'a', 'b'});
    ASSERT_TRUE(ab);
    EXPECT_TRUE(ab->isLeaf);
    const auto a = branches.get(Chars {'a'});
    ASSERT_TRUE(a);
    EXPECT_FALSE(a->isLeaf);
    EXPECT_EQ(branches.get(Chars {}), branches.root);
    EXPECT_EQ(branches.get(Chars {'a', 'x'}), nullptr);
    Trie<char> shared = branches;
    shared.insert(Chars {'a'});
    EXPECT_TRUE(a->isLeaf);
    EXPECT_EQ(Trie<char>(a).get(Chars {'b', 'd'}), branches.get(Chars {'a', 'b', 'd'}));
}

TEST(Trie, DeepTriesAndLongPathsAreReleasedWithoutRecursion)
{
    {
        Trie<int> trie;
        std::vector<int> sequence(300000);
        for (std::size_t i = 0; i < sequence.size(); ++i) {
            sequence[i] = static_cast<int>(i % 7);
        }
        trie.insert(sequence);
        EXPECT_EQ(trie.commonPrefixSearch(sequence).size(), 1u);
    }
    {
        TokenLattice lattice(std::string(100000, 'a'), 1, 2);
        for (int i = 0; i < 100000; ++i) {
            lattice.insert(i, 1, -1.0f, 7);
        }
        EXPECT_EQ(lattice.tokenIds().size(), 100000u);
    }
}

TEST(TokenLattice, BestPathAndItsTies)
{
    // Characters, not bytes: "é" and the flag are one position each.
    TokenLattice lattice("a\xC3\xA9\xF0\x9F\x87\xB8\xF0\x9F\x87\xB0", 100, 101);
    ASSERT_EQ(lattice.characterCount(), 3);
    lattice.insert(0, 1, -1.0f, 1);
    lattice.insert(0, 2, -1.5f, 2);
    lattice.insert(1, 1, -1.0f, 3);
    lattice.insert(1, 2, -3.0f, 4);
    lattice.insert(2, 1, -1.0f, 5);
    EXPECT_EQ(lattice.tokenIds(), (std::vector<int> {2, 5}));
    EXPECT_EQ(lattice.tokens(), (Strings {"a\xC3\xA9", "\xF0\x9F\x87\xB8\xF0\x9F\x87\xB0"}));
    // Running again gives the same answer.
    EXPECT_EQ(lattice.tokenIds(), (std::vector<int> {2, 5}));
    EXPECT_EQ(lattice.nodes().size(), 7u);
    EXPECT_EQ(lattice.beginNodes()[3].size(), 1u);
    EXPECT_EQ(lattice.endNodes()[0].front()->tokenId, 100);

    // Equal totals: the piece inserted first into the deciding end list (the one starting earlier) wins.
    TokenLattice tie("abc", 0, 0);
    tie.insert(0, 1, -1.0f, 1); // a
    tie.insert(0, 2, -2.0f, 2); // ab
    tie.insert(1, 1, -5.0f, 3); // b
    tie.insert(1, 2, -2.0f, 4); // bc
    tie.insert(2, 1, -1.0f, 5); // c
    EXPECT_EQ(tie.tokens(), (Strings {"a", "bc"}));
    TokenLattice reversed("abc", 0, 0);
    reversed.insert(0, 1, -1.0f, 1);
    reversed.insert(0, 2, -2.0f, 2);
    reversed.insert(1, 1, -5.0f, 3);
    reversed.insert(2, 1, -1.0f, 5);
    reversed.insert(1, 2, -2.0f, 4);
    EXPECT_EQ(reversed.tokens(), (Strings {"ab", "c"}));
}

TEST(TokenLattice, SentencesWithoutAPathGiveNothing)
{
    EXPECT_TRUE(TokenLattice("", 1, 2).tokens().empty());
    EXPECT_TRUE(TokenLattice("", 1, 2).viterbi().empty());

    TokenLattice gap("abc", 0, 0);
    gap.insert(0, 1, -1.0f, 1);
    gap.insert(2, 1, -1.0f, 3);
    EXPECT_TRUE(gap.tokens().empty());

    // A piece that no path from the start reaches never stands in for the start, however good it looks.
    TokenLattice stranded("abc", 0, 0);
    stranded.insert(0, 2, -5.0f, 1); // ab
    stranded.insert(1, 1, 0.0f, 2);  // b: nothing ends at 1
    stranded.insert(2, 1, -1.0f, 3); // c
    EXPECT_EQ(stranded.tokens(), (Strings {"ab", "c"}));

    EXPECT_THROW(gap.insert(-1, 1, 0, 0), std::out_of_range);
    EXPECT_THROW(gap.insert(2, 2, 0, 0), std::out_of_range);
    EXPECT_THROW(gap.insert(1, 0, 0, 0), std::out_of_range);
}

TEST(TokenLattice, NodeDescription)
{
    TokenLattice lattice("ab", 0, 0);
    lattice.insert(0, 2, -1.5f, 3);
    EXPECT_EQ(lattice.nodes().back()->description(),
        "TokenLatticeNode(tokenId: 3, startOffset: 0, length: 2, score: -1.5, prev: false, backtraceScore: 0.0)");
    lattice.viterbi();
    EXPECT_EQ(lattice.nodes().back()->description(),
        "TokenLatticeNode(tokenId: 3, startOffset: 0, length: 2, score: -1.5, prev: true, backtraceScore: -1.5)");
}
