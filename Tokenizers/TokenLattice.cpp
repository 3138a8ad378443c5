#include "Tokenizers/TokenLattice.hpp"

#include "platform/system/NumberText.hpp"
#include "platform/text/Graphemes.hpp"

#include <algorithm>
#include <stdexcept>

namespace tokenizers {

TokenLatticeNode::~TokenLatticeNode()
{
    std::shared_ptr<TokenLatticeNode> next = std::move(prev);
    while (next && next.use_count() == 1) {
        next = std::move(next->prev);
    }
}

std::string TokenLatticeNode::description() const
{
    return "TokenLatticeNode(tokenId: " + std::to_string(tokenId) + ", startOffset: " + std::to_string(startOffset)
        + ", length: " + std::to_string(length) + ", score: " + platform::numberText(score)
        + ", prev: " + (prev ? "true" : "false") + ", backtraceScore: " + platform::numberText(backtraceScore) + ")";
}

TokenLattice::TokenLattice(std::string sentence, int bosTokenId, int eosTokenId)
    : sentence_(std::move(sentence))
    , bosTokenId_(bosTokenId)
    , eosTokenId_(eosTokenId)
{
    for (std::string_view character : platform::graphemeClusters(sentence_)) {
        characterOffsets_.push_back(static_cast<std::size_t>(character.data() - sentence_.data()));
    }
    characterOffsets_.push_back(sentence_.size());
    const int n = characterCount();
    beginNodes_.resize(static_cast<std::size_t>(n) + 1);
    endNodes_.resize(static_cast<std::size_t>(n) + 1);
    bos_ = std::make_shared<TokenLatticeNode>(bosTokenId, 0, 0, 0.0f);
    auto eos = std::make_shared<TokenLatticeNode>(eosTokenId, n, 0, 0.0f);
    nodes_ = {bos_, eos};
    beginNodes_[static_cast<std::size_t>(n)].push_back(eos);
    endNodes_[0].push_back(bos_);
}

void TokenLattice::insert(int startOffset, int length, float score, int tokenId)
{
    if (startOffset < 0 || length < 1 || startOffset > characterCount() - length) {
        throw std::out_of_range("a lattice piece must lie inside the sentence and cover at least one character");
    }
    auto node = std::make_shared<TokenLatticeNode>(tokenId, startOffset, length, score);
    beginNodes_[static_cast<std::size_t>(startOffset)].push_back(node);
    endNodes_[static_cast<std::size_t>(startOffset + length)].push_back(node);
    nodes_.push_back(std::move(node));
}

std::vector<TokenLattice::NodePtr> TokenLattice::viterbi() const
{
    const int n = characterCount();
    for (int position = 0; position <= n; ++position) {
        const auto& begins = beginNodes_[static_cast<std::size_t>(position)];
        if (begins.empty()) {
            return {};
        }
        for (const NodePtr& right : begins) {
            right->prev = nullptr;
            const TokenLatticeNode* best = nullptr;
            float bestScore = 0;
            for (const NodePtr& left : endNodes_[static_cast<std::size_t>(position)]) {
                // A node no path from the start reaches must not stand in for the start.
                if (left != bos_ && !left->prev) {
                    continue;
                }
                const float total = left->backtraceScore + right->score;
                if (!best || total > bestScore) {
                    best = left.get();
                    bestScore = total;
                }
            }
            if (best) {
                right->prev = std::make_shared<TokenLatticeNode>(*best);
                right->backtraceScore = bestScore;
            }
        }
    }

    const NodePtr& eos = beginNodes_[static_cast<std::size_t>(n)].front();
    std::vector<NodePtr> path;
    for (NodePtr current = eos->prev; current && current->prev; current = current->prev) {
        path.push_back(current);
    }
    std::reverse(path.begin(), path.end());
    return path;
}

std::string_view TokenLattice::piece(const TokenLatticeNode& node) const
{
    const auto begin = characterOffsets_.at(static_cast<std::size_t>(node.startOffset));
    const auto end = characterOffsets_.at(static_cast<std::size_t>(node.startOffset + node.length));
    return std::string_view(sentence_).substr(begin, end - begin);
}

std::vector<std::string> TokenLattice::tokens() const
{
    std::vector<std::string> result;
    for (const NodePtr& node : viterbi()) {
        result.emplace_back(piece(*node));
    }
    return result;
}

std::vector<int> TokenLattice::tokenIds() const
{
    std::vector<int> result;
    for (const NodePtr& node : viterbi()) {
        result.push_back(node->tokenId);
    }
    return result;
}

} // namespace tokenizers
