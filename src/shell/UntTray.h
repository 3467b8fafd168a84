#pragma once

class QIcon;
class QWidget;

// Hides a minimised window when a tray icon can bring it back.
void HideTaskbarButton(QWidget* window);
// Whether the desktop offers a tray; tests can decide it (0 no, 1 yes, -1 ask the desktop).
bool TrayAvailable();
void OverrideTrayAvailable(int available);
// The icon lives in a StatusNotifier host (KDE, GNOME's AppIndicator extension) rather than
// an XEmbed tray: such a host sends one activation for a click, never a double click.
bool TrayIsStatusNotifier();
// The program's icon in every size it ships.
QIcon ProgramIcon();
