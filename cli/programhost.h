#pragma once

#include "clioptions.h"
#include "filefault.h"
#include "session.h"

namespace oe {

// What a port's unit of `program` takes from the command it runs under: the program folder, the
// words, the comparison of a value, and the progress line on stderr. The command's own state stays
// its own.
class ProgramHost
{
public:
    virtual QString programFolder() const = 0;
    // The session of a port (the simulation gives its own port and clock).
    virtual Session *makeSession(const CliPort &port, QObject *parent) = 0;
    // Whether a backup of the controller's values comes before the writes (not --no-backup).
    virtual bool backupFirst() const = 0;
    virtual QString mapsFolder() const = 0;
    virtual QString caption(int entry) const = 0;
    virtual QString fileProblemWords(const FileProblem &problem) const = 0;
    virtual QString connectFailureWords(const ConnectFailure &failure, const CliPort &port) const = 0;
    virtual bool sameValue(ParameterIndex index, qint32 held, qint32 wanted) const = 0;
    virtual void err(const QString &line) = 0;

protected:
    ~ProgramHost() = default;
};

} // namespace oe
