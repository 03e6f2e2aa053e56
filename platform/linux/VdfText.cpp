// Steam's text key-value format, read by a small recursive-descent reader of our own: the
// format has no types, only quoted or bare texts, braces, a few escapes and // comments.
#include "platform/linux/VdfText.h"

#include "core/AsciiText.h"

namespace velmoran {

namespace {

class Reader
{
public:
    Reader(std::string_view text, const VdfLimits& limits) : m_text(text), m_limits(limits) {}

    // Reads keys up to the end of the text (depth 0) or to the closing brace.
    bool readBlock(VdfNode& block, std::size_t depth)
    {
        for (;;) {
            Token key = next();
            if (key.kind == Kind::End) {
                if (depth == 0)
                    return true;
                return fail("the text ends inside a block");
            }
            if (key.kind == Kind::Close) {
                if (depth == 0)
                    return fail("a closing brace without an opening one");
                return true;
            }
            if (key.kind == Kind::Open)
                return fail("an opening brace where a key belongs");
            if (key.kind == Kind::Error)
                return false;
            if (++m_nodes > m_limits.maxNodes)
                return fail("more keys than a Steam file holds");
            VdfNode node;
            node.key = std::move(key.text);
            Token value = next();
            if (value.kind == Kind::Condition) // a platform condition after a key: ignored
                value = next();
            if (value.kind == Kind::Open) {
                if (depth + 1 > m_limits.maxDepth)
                    return fail("blocks nested deeper than a Steam file's");
                node.block = true;
                if (!readBlock(node, depth + 1))
                    return false;
            } else if (value.kind == Kind::Text) {
                node.value = std::move(value.text);
                const std::size_t at = m_at;
                if (next().kind != Kind::Condition)
                    m_at = at;
            } else if (value.kind == Kind::Error) {
                return false;
            } else {
                return fail("a key without a value");
            }
            block.children.push_back(std::move(node));
        }
    }

    const std::string& error() const { return m_error; }

private:
    enum class Kind
    {
        Text,
        Open,
        Close,
        Condition,
        End,
        Error
    };
    struct Token
    {
        Kind kind;
        std::string text;
    };

    bool fail(const std::string& reason)
    {
        if (m_error.empty())
            m_error = reason + " (at byte " + std::to_string(m_at) + ")";
        return false;
    }

    void skipSpaceAndComments()
    {
        while (m_at < m_text.size()) {
            const char c = m_text[m_at];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
                ++m_at;
            } else if (c == '/' && m_at + 1 < m_text.size() && m_text[m_at + 1] == '/') {
                const std::size_t end = m_text.find('\n', m_at);
                m_at = end == std::string_view::npos ? m_text.size() : end + 1;
            } else {
                return;
            }
        }
    }

    Token next()
    {
        skipSpaceAndComments();
        if (m_at >= m_text.size())
            return {Kind::End, {}};
        const char c = m_text[m_at];
        if (c == '{' || c == '}') {
            ++m_at;
            return {c == '{' ? Kind::Open : Kind::Close, {}};
        }
        if (c == '[') {
            const std::size_t end = m_text.find(']', m_at);
            if (end == std::string_view::npos) {
                fail("an unclosed condition");
                return {Kind::Error, {}};
            }
            m_at = end + 1;
            return {Kind::Condition, {}};
        }
        std::string text;
        if (c == '"') {
            for (++m_at; m_at < m_text.size(); ++m_at) {
                char d = m_text[m_at];
                if (d == '"') {
                    ++m_at;
                    return {Kind::Text, std::move(text)};
                }
                if (d == '\\' && m_at + 1 < m_text.size()) {
                    const char e = m_text[++m_at];
                    d = e == 'n' ? '\n' : e == 't' ? '\t' : e;
                    if (e != 'n' && e != 't' && e != '\\' && e != '"')
                        text += '\\'; // not an escape: both kept, as Steam keeps them
                }
                text += d;
            }
            fail("an unclosed quotation mark");
            return {Kind::Error, {}};
        }
        while (m_at < m_text.size()) {
            const char d = m_text[m_at];
            if (d == ' ' || d == '\t' || d == '\r' || d == '\n' || d == '"' || d == '{' ||
                d == '}' || d == '[')
                break;
            if (d == '/' && m_at + 1 < m_text.size() && m_text[m_at + 1] == '/')
                break;
            text += d;
            ++m_at;
        }
        return {Kind::Text, std::move(text)};
    }

    std::string_view m_text;
    const VdfLimits& m_limits;
    std::size_t m_at = 0;
    std::size_t m_nodes = 0;
    std::string m_error;
};

} // namespace

const VdfNode* VdfNode::child(std::string_view name) const
{
    for (const VdfNode& node : children)
        if (equalsIgnoreAsciiCase(node.key, name))
            return &node;
    return nullptr;
}

std::optional<std::string> VdfNode::valueAt(std::initializer_list<std::string_view> path) const
{
    const VdfNode* node = this;
    for (std::string_view key : path)
        if (!node->block || !(node = node->child(key)))
            return std::nullopt;
    if (node->block)
        return std::nullopt;
    return node->value;
}

std::optional<VdfNode> parseVdf(std::string_view text, std::string& error, const VdfLimits& limits)
{
    if (text.size() > limits.maxText) {
        error = "larger than a Steam file can be";
        return std::nullopt;
    }
    if (text.find('\0') != std::string_view::npos) {
        error = "not text (it holds a zero byte)";
        return std::nullopt;
    }
    VdfNode root;
    root.block = true;
    Reader reader(text, limits);
    if (!reader.readBlock(root, 0)) {
        error = reader.error();
        return std::nullopt;
    }
    return root;
}

} // namespace velmoran
