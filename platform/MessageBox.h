#pragma once
// Message boxes never block a line: headless they go to standard error and to whatever sink the program
// installed (the run log, later the console's dialog queue).
#include <functional>
#include <string>

namespace zz {

using MessageSink = std::function<void(const std::string& text, const std::string& caption)>;

// text and caption are GBK bytes.
void ShowMessage(const std::string& text, const std::string& caption);
// Replaces the sink (empty function: standard error only). Standard error always gets the line.
void SetMessageSink(MessageSink sink);
void SetMessageStderr(bool on);

} // namespace zz
