// The command line: what ends the run on the terminal, and what starts the program.
#include "TestSupport.h"

#include "shell/UntCommandLine.h"

#include <QRegularExpression>

TEST(CommandLine, HelpAndVersionAnswerWithoutStarting) {
    const auto version = AnswerCommandLine({"quillet", "--version"});
    ASSERT_TRUE(version);
    EXPECT_EQ(version->exitCode, 0);
    EXPECT_FALSE(version->isError);
    EXPECT_TRUE(
        QRegularExpression("^quillet \\d+\\.\\d+(\\.\\d+)?\\n$").match(version->text).hasMatch())
        << version->text;
    EXPECT_EQ(AnswerCommandLine({"quillet", "-v"})->text, version->text);

    for (const char* option : {"--help", "-h"}) {
        const auto help = AnswerCommandLine({"quillet", option});
        ASSERT_TRUE(help);
        EXPECT_EQ(help->exitCode, 0);
        EXPECT_TRUE(help->text.startsWith("Usage: quillet [options]")) << help->text;
        EXPECT_TRUE(help->text.contains("--version"));
        EXPECT_FALSE(help->text.contains("qwindowtitle")) << "Qt's options stay out of the list";
    }
}

TEST(CommandLine, QtOptionsStartTheProgramAndStrayArgumentsAreRefused) {
    EXPECT_FALSE(AnswerCommandLine({"quillet"}));
    EXPECT_FALSE(AnswerCommandLine(
        {"quillet", "-platform", "offscreen", "-style=fusion", "-reverse", "--qwindowtitle", "x"}));

    for (const QStringList& wrong :
         {QStringList{"quillet", "--bogus"}, QStringList{"quillet", "notes.txt"},
          QStringList{"quillet", "-platform"}}) {
        const auto answer = AnswerCommandLine(wrong);
        ASSERT_TRUE(answer) << wrong.join(' ');
        EXPECT_EQ(answer->exitCode, 2);
        EXPECT_TRUE(answer->isError);
        EXPECT_TRUE(answer->text.contains("quillet --help")) << answer->text;
    }
}
