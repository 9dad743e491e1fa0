#pragma once

#include <QString>

namespace vardel {

// Where the program keeps its files. Run from a folder the user may write to
// (the build tree, a copied folder) everything lies beside the program. An
// installed program (a folder the user cannot write to, or the names files
// kept in <prefix>/share/vardel rather than beside it) keeps the user's files
// in the user's own folders and reads the names files from the package. Root
// running a program in another user's folder (a build tree) counts as
// installed: its files go to root's own folders.
struct FileLocations {
    bool installed = false;
    QString configDir; // Vardel.cfg: $XDG_CONFIG_HOME/vardel when installed
    QString dataDir;   // the simulator's state: $XDG_DATA_HOME/vardel when installed
    QString namesDir;  // KX2_NAME.TXT, KX3_NAME.TXT, KX4_NAME.TXT
    QString startDir;  // where the file dialogs open: the home folder when installed
};

// Decides the locations for a program in `programDir`. Creates nothing: the
// settings writer makes the configuration folder, the start of the simulated
// card the data folder.
FileLocations fileLocations(const QString& programDir);

} // namespace vardel
