// The command wire's lines, the same over the Unix socket and the named pipe.
#include "platform/CommandSocket.h"

#include <cstdlib>

namespace platform {

bool commandRequestLine(const std::string& request, std::string& line, CommandAnswer& refusal) {
    if (request.find('\n') != std::string::npos) {
        refusal = {2, "the request holds a line feed"};
        return false;
    }
    if (request.size() + 1 > kCommandRequestMax) {
        refusal = {2, "the request is too long"};
        return false;
    }
    line = request + '\n';
    return true;
}

std::string commandAnswerLine(const CommandAnswer& answer) {
    std::string text = std::to_string(answer.status) + " " + answer.text;
    if (text.size() + 1 > kCommandAnswerMax)
        text = "2 the answer is too long";
    return text + '\n';
}

CommandAnswer parseCommandAnswer(std::string reply) {
    if (reply.empty() || reply.back() != '\n')
        return {2, "the running copy did not answer"};
    reply.pop_back();
    const size_t blank = reply.find(' ');
    CommandAnswer answer;
    answer.status = std::atoi(reply.substr(0, blank).c_str());
    answer.text = blank == std::string::npos ? "" : reply.substr(blank + 1);
    return answer;
}

} // namespace platform
