#pragma once

#include <QObject>

#include <exception>

// The error route's window: shows an error that no window caught, with the object that raised it.
// Answers true when the user sent a report about it. Never throws.
bool MostrarErro(const std::exception& E, QObject* Origem);
