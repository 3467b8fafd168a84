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

        // Each entry runs on to the right margin, its later lines under its first.
        const QStringList lines = help->text.split('\n');
        const qsizetype column = lines.filter("--help").first().indexOf("Show");
        for (qsizetype i = 1; i < lines.size(); ++i) {
            EXPECT_LE(lines[i].size(), 80) << lines[i];
            if (!lines[i].startsWith(QString(column, ' ')))
                continue;
            const QString word = lines[i].mid(column).section(' ', 0, 0);
            EXPECT_GT(lines[i - 1].size() + 1 + word.size(), 72)
                << "broken early: " << lines[i - 1];
        }
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
