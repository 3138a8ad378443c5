#pragma once

#include <QString>

#include <exception>

namespace parlino {

// Why a speech model could not be set up, for the screens: the model and the cause in a few words.
struct ModelFailure {
    enum class Reason { noConnection, notFound, noSpace, cancelled, other };

    QString model;
    Reason reason = Reason::other;

    // Lower case, without a full stop: "no connection to the model hub", ...
    QString reasonText() const;

    // The cause of an engine creation's failure, found through the errors nested in it.
    static Reason reasonOf(std::exception_ptr error);

    friend bool operator==(const ModelFailure&, const ModelFailure&) = default;
};

} // namespace parlino
