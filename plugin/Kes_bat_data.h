// The plug-in registry: every usable plug-in of the tool's directory, in
// discovery order, and the one library slot through which the rest of the
// tool reaches them. At most one plug-in module is loaded at any time.
#ifndef KESTRANE_KES_BAT_DATA_H
#define KESTRANE_KES_BAT_DATA_H

#include <string>
#include <vector>

#include "Vornic_dll.h"

struct TPluginList {
    std::string Path;         // scanned directory followed by the file name
    std::string Info;         // info 1; kept, never shown
    std::string Patterns;     // info 2, lower-cased: masks separated by ';'
    std::string Description;  // info 3
    int Flags = 0;            // CapAbout, CapSettings from the second capability query
};

// Result codes of WriteOneFile besides the plug-in's own.
enum {
    ErrOpenRead = -5,  // the file could not be opened or read whole
    ErrNoMemory = -4   // no buffer for the contents, or too large for the interface
};

class CKesBat {
public:
    CKesBat() = default;
    CKesBat(const CKesBat&) = delete;
    CKesBat& operator=(const CKesBat&) = delete;

    // directory ends in a path separator; the mask is appended directly.
    bool ScanDirectory(const std::string& directory, const std::string& mask);
    bool AddPlugin(const std::string& path);

    int Count() const;
    std::string GetPatterns(int index) const;
    std::string GetDescription(int index) const;
    int GetFlags(int index) const;

    bool PrepareWrite(int index);
    void ReleasePlugin();
    int WriteOneFile(HWND window, const std::string& path, const std::string& comment);
    // Refused while a write is prepared: the slot then belongs to the run.
    bool ShowPluginDialog(HWND window, int index, int mode);

private:
    const TPluginList* Entry(int index) const;

    std::vector<TPluginList> plugins_;
    CVornicDLL slot_;
    // From a successful PrepareWrite to ReleasePlugin: the slot is the run's.
    bool writePrepared_ = false;
};

// The tool's one registry, alive from before the program entry to after it.
extern CKesBat KesBat;

#endif
