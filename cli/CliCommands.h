// The subcommands of kkm-cli. Each checks everything it can before it
// connects (files, ports, the password's form), so that bad input touches
// no register, then runs its task on every port and returns the exit status.
#pragma once

#include "CliFleet.h"
#include "CliOptions.h"
#include "Session.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace kkm::cli {

int RunPorts(const TOptions& Options);
int RunInfo(const TOptions& Options);
int RunGoodsRead(const TOptions& Options);
int RunGoodsWrite(const TOptions& Options);
int RunLogoUpload(const TOptions& Options);
int RunSettings(const TOptions& Options);

// What every port's session takes from the options.
TFleetOptions FleetOptions(const TOptions& Options);

// The ports as paths; false (the unknown one reported) when any is unknown.
bool ResolvePorts(const TOptions& Options, QStringList& Paths);

// The password from -w, from standard input for "-w -", or from
// KKM_PASSWORD; false with Error when there is none or it is no password
// the authorisation dialog would take (digits, at most 6).
bool TakePassword(const TOptions& Options, std::int64_t& Password, QString& Error);

// Where a read's file goes: -o itself for one port, or a file named by the
// register's serial number in the folder -o names (several ports, or -o an
// existing folder). Checked before connecting.
class TOutputPlace {
public:
    // False with Error when the file or the folder cannot be made there.
    bool Prepare(const TOptions& Options, const QString& Suffix, QString& Error);
    // The file for a register; thread-safe, never the same one twice.
    QString FileFor(std::int64_t Serial);
    // "-o -": the one register's file goes to standard output.
    bool ToStdout() const { return file_.isEmpty() && folder_.isEmpty(); }

private:
    QString file_;
    QString folder_;
    QString suffix_;
    QStringList taken_;
};

// A context for the jobs that only check or convert a file and never talk
// to a register: what they report is printed with the file's name in front
// (progress lines only when Verbose).
class TFileJob final : public TJobContext {
public:
    TFileJob(QString File, bool Verbose) : file_(std::move(File)), verbose_(Verbose) {}
    TOmvekCP& Protokol() override { return unused_; }
    void Line(const QString& Text, TLineKind Kind) override;
    void Progress(int, int, int) override {}
    void Post(std::function<void()> Fn) override { Fn(); }
    bool Cancelled() const override { return false; }

    bool Failed = false;

private:
    QString file_;
    bool verbose_;
    TOmvekCP unused_; // never opened
};

// Prints to standard output.
void PrintOut(const QString& Text);
// The outcomes' bytes for standard output, in port order.
void WriteBytesOut(const std::vector<TPortOutcome>& Outcomes);
// Standard input whole ("-" as the file).
QByteArray ReadStdin();
// What "-" as a file is called in messages.
inline const QString StdinName = QStringLiteral("стандартный ввод");

int RunEvents(const TOptions& Options);

} // namespace kkm::cli
