// Runs the gadrel program of this build as a child and collects what it
// ends with: the exit status and what it wrote to standard error.
#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct ProcessResult {
  int status = -1;  // exit status; -1 when it did not exit normally
  QString err;
};

inline ProcessResult Gadrel(const QStringList& args,
                            const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                            int timeoutMs = 60000) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(GADREL_EXE), args);
  EXPECT_TRUE(p.waitForFinished(timeoutMs)) << "still running after " << timeoutMs << " ms";
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardError())};
}
