#pragma once

// Helpers shared by the test programs.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace qdx::test {

// The project's source folder and the build folder (with bin/ holding the programs).
QString sourceDir();
QString binaryDir();
// A program of the build: binaryDir() + "/bin/" + name.
QString builtProgram(const QString& name);

// True when an external tool is on the PATH.
bool haveTool(const QString& name);

struct ProcessResult {
    int exitCode = -1;       // -1 when the program could not start or did not finish in time
    QByteArray out;
    QByteArray err;
    bool started = false;
    bool finished = false;
};
// Runs a program to its end (or kills it after `timeoutMs`), feeding `input` on standard input.
ProcessResult run(const QString& program, const QStringList& arguments, int timeoutMs = 120000,
                  const QByteArray& input = {}, const QStringList& extraEnvironment = {});

// A temporary folder removed at the end of the test, with a helper for paths inside it.
class TempDir {
public:
    TempDir();
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

// Reads a whole file; empty when missing.
QByteArray readAll(const QString& path);
// Writes a whole file; false on failure.
bool writeAll(const QString& path, const QByteArray& data);

} // namespace qdx::test
