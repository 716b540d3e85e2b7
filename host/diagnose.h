// Why a plug-in call failed, as far as the host can tell by reading the files itself.
// Everything here goes to standard error: standard output stays the plug-ins' own text.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "host.h"

namespace host {

class NotifyHost;

// The causes found in the instance file at pluginPath (as the plug-in was given it) for a
// plug-in of the type: one line each, empty when the file looks right to the host.
std::vector<std::string> DiagnoseInstance(const NotificationType& type,
                                          const std::string& pluginPath);
// What will go wrong although the file reads: a silent or empty speech instance, a
// Command that stops where a start was meant, and with bKeys misspelt keys. One line each.
std::vector<std::string> InstanceWarnings(const NotificationType& type,
                                          const std::string& pluginPath, bool bKeys);

// After notify: the causes when it failed, the warnings in any case, the service manager of
// the machine when a Revocet call failed although its file reads, and the spooled WAV file.
void ReportNotify(const NotificationType& type, const std::string& pluginPath, HRESULT hr,
                  NotifyHost& hostObject);
// After page edit: the causes when it failed.
void ReportPage(const NotificationType& type, const std::string& pluginPath, HRESULT hr);
// After page new or apply: what is wrong with the folder when it failed; after an apply,
// the warnings for the instance file the form names.
void ReportDirectory(const NotificationType& type, const std::string& pluginDirectory,
                     const std::string& form, HRESULT hr);

// Why a loopback address cannot be listened on ("address in use", ...), found by trying.
std::string ListenProblem(const std::string& address, int port);

} // namespace host
