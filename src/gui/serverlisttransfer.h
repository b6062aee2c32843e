// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>

class QPoint;
class QWidget;

// Export and import of the server list through the store, with their file dialogs and message
// boxes over `parent`, and the server list's context menu that offers them.
namespace ServerListTransfer {

enum class Action { None, Export, Import };

// Shows the context menu at `globalPos` and returns the chosen action, once the menu has closed.
Action chooseFromMenu(QWidget *parent, const QPoint &globalPos, bool dark);

// Asks for a file and writes the whole list to it.
void exportServers(QWidget *parent);

// Asks for a file and whether to append its servers or replace the list with them. Replacing is
// refused while `tunnelRunning`. After a successful import the store is reloaded and `listChanged`
// runs before the closing report.
void importServers(QWidget *parent, bool tunnelRunning, const std::function<void()> &listChanged);

} // namespace ServerListTransfer
