#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tokenizers {

template<typename Element, typename Hash = std::hash<Element>>
class TrieNode {
public:
    TrieNode() = default;
    TrieNode(const TrieNode&) = delete;
    TrieNode& operator=(const TrieNode&) = delete;

    // Deep tries (long vocabulary pieces) are released node by node, never by recursion.
    ~TrieNode()
    {
        std::vector<std::shared_ptr<TrieNode>> pending;
        auto release = [&pending](TrieNode& node) {
            for (auto& [element, child] : node.children) {
                pending.push_back(std::move(child));
            }
            node.children.clear();
        };
        release(*this);
        while (!pending.empty()) {
            std::shared_ptr<TrieNode> node = std::move(pending.back());
            pending.pop_back();
            if (node && node.use_count() == 1) {
                release(*node);
            }
        }
    }

    bool isLeaf = false;
    std::unordered_map<Element, std::shared_ptr<TrieNode>, Hash> children;
};

// Yields, one per call, the prefixes of a text that were inserted into a trie, shortest first.
// The text must outlive the iterator.
template<typename Element, typename Hash = std::hash<Element>>
class LeavesWithCommonPrefixIterator {
public:
    using Node = TrieNode<Element, Hash>;

    LeavesWithCommonPrefixIterator(std::shared_ptr<Node> root, std::span<const Element> text)
        : node_(std::move(root))
        , text_(text)
    {
    }

    std::optional<std::vector<Element>> next()
    {
        while (node_ && position_ < text_.size()) {
            const Element& element = text_[position_++];
            seq_.push_back(element);
            const auto child = node_->children.find(element);
            if (child == node_->children.end()) {
                node_ = nullptr;
                return std::nullopt;
            }
            node_ = child->second;
            if (node_->isLeaf) {
                return seq_;
            }
        }
        return std::nullopt;
    }

    const std::vector<Element>& seq() const { return seq_; }

private:
    std::shared_ptr<Node> node_;
    std::span<const Element> text_;
    std::size_t position_ = 0;
    std::vector<Element> seq_;
};

// A prefix tree over sequences of elements. Copies share their nodes.
template<typename Element, typename Hash = std::hash<Element>>
class Trie {
public:
    using Node = TrieNode<Element, Hash>;

    explicit Trie(std::shared_ptr<Node> root = nullptr)
        : root(root ? std::move(root) : std::make_shared<Node>())
    {
    }

    void insert(std::span<const Element> sequence)
    {
        Node* node = root.get();
        for (const Element& element : sequence) {
            auto& child = node->children[element];
            if (!child) {
                child = std::make_shared<Node>();
            }
            node = child.get();
        }
        node->isLeaf = true;
    }

    void append(const std::vector<std::vector<Element>>& sequences)
    {
        for (const auto& sequence : sequences) {
            insert(sequence);
        }
    }

    // The node reached by following the sequence, leaf or not; none when a step is missing.
    std::shared_ptr<Node> get(std::span<const Element> sequence) const
    {
        std::shared_ptr<Node> node = root;
        for (const Element& element : sequence) {
            const auto child = node->children.find(element);
            if (child == node->children.end()) {
                return nullptr;
            }
            node = child->second;
        }
        return node;
    }

    // Every inserted prefix of the text, shortest first. The empty prefix is never reported.
    std::vector<std::vector<Element>> commonPrefixSearch(std::span<const Element> text) const
    {
        std::vector<std::vector<Element>> results;
        std::vector<Element> prefix;
        const Node* node = root.get();
        for (const Element& element : text) {
            prefix.push_back(element);
            const auto child = node->children.find(element);
            if (child == node->children.end()) {
                break;
            }
            node = child->second.get();
            if (node->isLeaf) {
                results.push_back(prefix);
            }
        }
        return results;
    }

    LeavesWithCommonPrefixIterator<Element, Hash> commonPrefixSearchIterator(std::span<const Element> text) const
    {
        return LeavesWithCommonPrefixIterator<Element, Hash>(root, text);
    }

    std::shared_ptr<Node> root;
};

} // namespace tokenizers
