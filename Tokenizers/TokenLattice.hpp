#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tokenizers {

// One candidate piece of a sentence.
class TokenLatticeNode {
public:
    TokenLatticeNode(int tokenId, int startOffset, int length, float score)
        : tokenId(tokenId)
        , startOffset(startOffset)
        , length(length)
        , score(score)
    {
    }
    TokenLatticeNode(const TokenLatticeNode&) = default;
    TokenLatticeNode& operator=(const TokenLatticeNode&) = delete;
    // A long predecessor chain is released node by node, never by recursion.
    ~TokenLatticeNode();

    // "TokenLatticeNode(tokenId: 3, startOffset: 0, length: 2, score: -1.5, prev: false, backtraceScore: 0.0)"
    std::string description() const;

    const int tokenId;
    const int startOffset;
    const int length;
    const float score;
    std::shared_ptr<TokenLatticeNode> prev;
    float backtraceScore = 0;
};

// The candidate pieces of one sentence; its best-scoring path is the tokenization. Positions count
// user-perceived characters. Copies share their nodes.
class TokenLattice {
public:
    using NodePtr = std::shared_ptr<TokenLatticeNode>;

    TokenLattice(std::string sentence, int bosTokenId, int eosTokenId);

    // Throws std::out_of_range unless 0 <= startOffset, 1 <= length and startOffset + length <= N.
    void insert(int startOffset, int length, float score, int tokenId);

    // The nodes of the best path in text order, without the boundary nodes; empty when no path
    // crosses the sentence. Equal totals keep the piece inserted first into the deciding end list.
    std::vector<NodePtr> viterbi() const;
    std::vector<std::string> tokens() const;
    std::vector<int> tokenIds() const;

    // The text a node covers.
    std::string_view piece(const TokenLatticeNode& node) const;

    const std::string& sentence() const { return sentence_; }
    int bosTokenId() const { return bosTokenId_; }
    int eosTokenId() const { return eosTokenId_; }
    // Number of characters N; positions run from 0 to N.
    int characterCount() const { return static_cast<int>(characterOffsets_.size()) - 1; }
    const std::vector<NodePtr>& nodes() const { return nodes_; }
    const std::vector<std::vector<NodePtr>>& beginNodes() const { return beginNodes_; }
    const std::vector<std::vector<NodePtr>>& endNodes() const { return endNodes_; }

private:
    std::string sentence_;
    int bosTokenId_;
    int eosTokenId_;
    std::vector<std::size_t> characterOffsets_; // byte offset of each position, N + 1 entries
    std::vector<NodePtr> nodes_;
    std::vector<std::vector<NodePtr>> beginNodes_;
    std::vector<std::vector<NodePtr>> endNodes_;
    NodePtr bos_;
};

} // namespace tokenizers
