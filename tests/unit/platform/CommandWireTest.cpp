// The lines of a command to the running copy, the same over the Unix socket
// and the named pipe: the request a client sends, and the answer it reads
// back.
#include "platform/CommandSocket.h"

#include <gtest/gtest.h>

TEST(CommandWire, RequestLines) {
    struct Case {
        std::string request;
        bool sent;
        std::string line;    // when sent
        std::string refusal; // when not
    } const cases[] = {
        {"status json", true, "status json\n", ""},
        {"reload ", true, "reload \n", ""},
        {"reload a\nstatus", false, "", "the request holds a line feed"},
        {std::string(platform::kCommandRequestMax - 1, 'x'), true,
         std::string(platform::kCommandRequestMax - 1, 'x') + "\n", ""},
        {std::string(platform::kCommandRequestMax, 'x'), false, "", "the request is too long"},
    };
    for (const Case& c : cases) {
        std::string line;
        platform::CommandAnswer refusal;
        EXPECT_EQ(platform::commandRequestLine(c.request, line, refusal), c.sent)
            << c.request.substr(0, 20);
        if (c.sent) {
            EXPECT_EQ(line, c.line);
        } else {
            EXPECT_EQ(refusal.status, 2);
            EXPECT_EQ(refusal.text, c.refusal);
        }
    }
}

TEST(CommandWire, AnswersGoOutAndComeBackWhole) {
    struct Case {
        platform::CommandAnswer answer;
        std::string line;
    } const cases[] = {
        {{0, "signed in\nentry 0 live"}, "0 signed in\nentry 0 live\n"},
        {{2, ""}, "2 \n"},
        {{2, "reload: no page on \"X\""}, "2 reload: no page on \"X\"\n"},
    };
    for (const Case& c : cases) {
        const std::string line = platform::commandAnswerLine(c.answer);
        EXPECT_EQ(line, c.line);
        const platform::CommandAnswer back = platform::parseCommandAnswer(line);
        EXPECT_EQ(back.status, c.answer.status);
        EXPECT_EQ(back.text, c.answer.text);
    }
    // An answer beyond the limit is a refusal, within it.
    const std::string tooLong =
        platform::commandAnswerLine({0, std::string(platform::kCommandAnswerMax, 'x')});
    EXPECT_EQ(tooLong, "2 the answer is too long\n");
}

TEST(CommandWire, AnAnswerCutOffIsNone) {
    for (const std::string& reply :
         {std::string(), std::string("0 signed in"), std::string("0 signed in\nentry")}) {
        const platform::CommandAnswer answer = platform::parseCommandAnswer(reply);
        EXPECT_EQ(answer.status, 2) << reply;
        EXPECT_EQ(answer.text, "the running copy did not answer");
    }
}
