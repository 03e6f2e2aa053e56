#pragma once

// The program's messages in a benchmark: no box to answer, each one's title and first line
// on stderr beside the figures (or none, where every step brings an expected message).

#include "core/UserMessages.h"

#include <cstdio>
#include <string>

namespace velmoran::bench {

class BenchMessages : public UserMessages
{
public:
    explicit BenchMessages(bool print = true) : m_print(print) {}
    void showMessage(const std::string& text, const std::string& title) override
    {
        if (m_print)
            std::fprintf(stderr, "message [%s] %s\n", title.c_str(),
                         text.substr(0, text.find('\n')).c_str());
    }

private:
    bool m_print;
};

} // namespace velmoran::bench
