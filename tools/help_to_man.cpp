// Turns a program's --help into its manual page, so that the two never disagree: the page
// is made from whatever the built program prints.
//
// Usage: help_to_man <program> <version> <output.1> [<resources> <installed resources>]
// The program runs with VELLUMA_RESOURCES=<resources>; that folder's name in the text
// becomes <installed resources>, where the installed program finds the same files.
//
// The help's first line ("Usage: NAME ARGS") makes the synopsis, its second the name line;
// the rest is the description: paragraphs of plain lines are filled, a block with indented
// lines (option tables, lists) is kept as printed, and an unindented line ending in ":"
// that opens such a block is its heading.

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTextStream>

#include <algorithm>

namespace {

QString escaped(QString line)
{
    line.replace(QLatin1Char('\\'), QStringLiteral("\\e"));
    line.replace(QLatin1Char('-'), QStringLiteral("\\-"));
    line.replace(QLatin1Char('\''), QStringLiteral("\\(aq"));
    if (line.startsWith(QLatin1Char('.')))
        line.prepend(QStringLiteral("\\&"));
    return line;
}

QString manPage(const QString& name, const QString& version, const QStringList& lines)
{
    QString page;
    QTextStream out(&page);
    const QString usage = lines.value(0);
    const QString prefix = QStringLiteral("Usage: ") + name;
    const QString arguments =
        usage.startsWith(prefix) ? usage.mid(prefix.size()).trimmed() : QString();
    QString summary = lines.value(1).trimmed();
    if (summary.endsWith(QLatin1Char('.')))
        summary.chop(1);
    out << ".TH " << escaped(name.toUpper()) << " 1 \"\" \"Velluma " << version
        << "\" \"User Commands\"\n"
        << ".nh\n.ad l\n"
        << ".SH NAME\n"
        << escaped(name) << " \\- " << escaped(summary) << "\n"
        << ".SH SYNOPSIS\n"
        << ".B " << escaped(name) << "\n"
        << escaped(arguments) << "\n"
        << ".SH DESCRIPTION\n";

    QList<QStringList> blocks(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i].trimmed().isEmpty()) {
            if (!blocks.last().isEmpty())
                blocks.append(QStringList());
        } else {
            blocks.last().append(lines[i]);
        }
    }
    for (QStringList block : blocks) {
        if (block.isEmpty())
            continue;
        const bool kept = std::any_of(block.begin(), block.end(), [](const QString& line) {
            return line.startsWith(QLatin1Char(' '));
        });
        if (!kept) {
            out << ".PP\n";
            for (const QString& line : block)
                out << escaped(line.trimmed()) << "\n";
            continue;
        }
        if (!block.first().startsWith(QLatin1Char(' ')) && block.first().endsWith(QLatin1Char(':')))
            out << ".SS " << escaped(block.takeFirst()) << "\n";
        else
            out << ".PP\n";
        out << ".nf\n";
        for (const QString& line : block)
            out << escaped(line) << "\n";
        out << ".fi\n";
    }
    return page;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4 && args.size() != 6) {
        err << "usage: help_to_man <program> <version> <output.1> [<resources> <installed>]\n";
        return 2;
    }
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (args.size() == 6)
        environment.insert(QStringLiteral("VELLUMA_RESOURCES"), args[4]);
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(args[1], {QStringLiteral("--help")});
    if (!program.waitForFinished(60000) || program.exitStatus() != QProcess::NormalExit ||
        program.exitCode() != 0) {
        err << "help_to_man: " << args[1] << " --help failed\n";
        return 1;
    }
    QString help = QString::fromUtf8(program.readAllStandardOutput());
    if (args.size() == 6)
        help.replace(args[4], args[5]);
    const QString name = QFileInfo(args[1]).fileName();
    QFile file(args[3]);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(manPage(name, args[2], help.split(QLatin1Char('\n'))).toUtf8()) < 0) {
        err << "help_to_man: cannot write " << args[3] << "\n";
        return 1;
    }
    return 0;
}
