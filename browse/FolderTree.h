// The folder tree: the machine's folders as a desktop user sees them, with the Desktop at
// the top, the Computer node with the mounted volumes below it, the Home folder, and on
// request the Trash and the Network.
//
// Nodes are filled lazily: a folder's subfolders are read the first time the folder is
// expanded, never before, so a tree over a whole disk costs only what the user opens. Every
// filled folder is watched; folders created, removed or renamed on disk appear and vanish
// without the user's help, and mounts and unmounts update the Computer and Network nodes.
//
// The window connects Change to its handler and asks GetSelectedPath for the folder to list.
#pragma once

#include "platform/Shell.h"
#include "platform/WindowPlacement.h"

#include <QTreeWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace cantorell {

// What a node stands for. The values are those the tree has always used for its nodes.
enum class TNodeKind : std::uint8_t {
    nkFolder = 0,     // a folder, including the volumes below Computer and the Home folder
    nkNetwork = 1,    // the Network node: its children are the mounted network shares
    nkRecycleBin = 2, // the Trash node
    nkComputer = 3,   // the Computer node: its children are the mounted volumes
    nkDesktop = 4,    // the top node, the user's desktop folder
    nkNetworkItem = 5 // a mounted network share below the Network node
};

// The record every node carries.
struct TFolderNode {
    // The file-system path the node reports: empty for Computer, Network and Trash.
    std::string Path;
    // The display name; the node's text is this name mapped by DisplayMode.
    QString Name;
    bool HasParent = false;
    // The folder whose subfolders become the node's children. Empty for Computer and
    // Network, whose children come from the mount table; the Trash's is the trash folder.
    std::string Folder;
    TNodeKind Kind = TNodeKind::nkFolder;
};

class TFolderTree : public QTreeWidget {
    Q_OBJECT

public:
    enum TFolderOption {
        foNetworkNeighborhood = 0x1, // show the Network node
        foRecycleBin = 0x2,          // show the Trash node
        foVirtualFirst = 0x4         // put the Trash and Network nodes first, not last
    };
    Q_DECLARE_FLAGS(SFolderOption, TFolderOption)
    Q_FLAG(SFolderOption)

    enum TDisplayMode { dmAsis, dmUppercase, dmLowercase };
    Q_ENUM(TDisplayMode)

    // The published properties, declared after the types they use.
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(SFolderOption FolderOptions READ FolderOptions WRITE SetFolderOptions)
    Q_PROPERTY(TDisplayMode DisplayMode READ DisplayMode WRITE SetDisplayMode)
    // The tree's width in its splitter, kept in the options file; writing it moves the
    // splitter's handle.
    Q_PROPERTY(int Width READ Width WRITE SetWidth)

    // Whether FindNodeByPath may read folders that were not read yet to go deeper.
    enum class TFindMode { fmExpand, fmNoExpand };
    // Whether RefreshDriveNode resets a volume only when its name changed, or always.
    enum class TRefreshMode { rmIfRenamed, rmForce };

    // The item type of the tree's nodes (defined in the source).
    class TFolderItem;

    // The shell is not owned; tests give one whose special folders are temporary folders.
    explicit TFolderTree(QWidget* parent = nullptr, TShell& shell = TShell::Default());
    ~TFolderTree() override;

    bool Active() const { return FActive; }
    // True builds the tree and starts following changes on disk; false empties it.
    void SetActive(bool value);
    SFolderOption FolderOptions() const { return FFolderOptions; }
    void SetFolderOptions(SFolderOption value);
    TDisplayMode DisplayMode() const { return FDisplayMode; }
    void SetDisplayMode(TDisplayMode value);
    int Width() const { return SizeInSplitter(*this); }
    void SetWidth(int value) { SetSizeInSplitter(*this, value); }

    // The path of the selected node; empty when nothing is selected or the node is not a
    // folder (Computer, Network, Trash).
    std::string GetSelectedPath() const;
    std::string GetNodePath(const QTreeWidgetItem* Node) const;
    // The node's record, or null for an item the tree did not make.
    static const TFolderNode* NodeData(const QTreeWidgetItem* Node);

    // Reads the node's subfolders (or, for Computer and Network, the mounted volumes) and
    // brings its children in line with them. Returns whether the node has children now. A
    // folder that cannot be read keeps its expand button and gets no children.
    bool FillNode(QTreeWidgetItem* Node);
    // The node showing an absolute path: the deepest one in the tree that contains it, or
    // with fmNoExpand exactly that folder's node or null. With fmExpand folders on the way
    // are read as needed (without expanding them on screen).
    QTreeWidgetItem* FindNodeByPath(const std::string& Path, TFindMode Mode = TFindMode::fmExpand);
    // Re-reads a filled node's folder: new subfolders appear in sorted position, vanished
    // ones go, the rest keep their own children, their expansion and the selection.
    void RefreshNode(QTreeWidgetItem* Node);
    // Resets the volume mounted at RootPath below Computer when its name changed (or always
    // with rmForce): its children are dropped and it is read again when next expanded.
    void RefreshDriveNode(const std::string& RootPath, TRefreshMode Mode);
    // Brings Computer's and Network's children in line with the mount table, and drops
    // what was read of folders something was mounted on or unmounted from since.
    void RefreshDrives();
    // The first node of the given kind, in the tree's order.
    QTreeWidgetItem* FindSpecialNode(TNodeKind Kind) const;

    // Asked when the desktop session is ending; leaving CanEndSession true lets it end.
    std::function<void(TFolderTree* Sender, bool& CanEndSession)> OnEndSessionQuery;
    // What the tree answers to the session manager.
    bool QueryEndSession();

signals:
    // The selected node changed (null when nothing is selected any more).
    void Change(QTreeWidgetItem* Node);
    // Changes noticed on disk or in the mount table have been applied to the tree.
    void ChangesApplied();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Fires OnEndSessionQuery; a subclass may answer instead.
    virtual void DoEndSessionQuery(bool& CanEndSession);

private:
    void BuildTree();
    void ApplyFolderOptions();
    void NodeExpanded(QTreeWidgetItem* item);
    // The double-click rule; false when the clicked node was removed.
    bool DoubleClicked();
    TFolderItem* AddSpecialNode(TFolderNode data, TShellIcon icon);
    TFolderItem* MakeFolderItem(TFolderItem* parent, const std::string& name);
    // Children of an ordinary folder: removes the vanished, inserts the new in sorted place.
    void MergeFolders(TFolderItem* node, const std::vector<std::string>& names);
    // Children of Computer or Network: the volumes in mount order.
    void MergeVolumes(TFolderItem* node, const std::vector<TVolume>& volumes);
    void ResetNode(TFolderItem* node);
    void DeleteNode(QTreeWidgetItem* item);
    // Stops watching the folders of a node and every node below it.
    void ForgetFilled(QTreeWidgetItem* item);
    void SetFilled(TFolderItem* node, bool filled);
    QString NodeText(const QString& name) const;
    void FolderChanged(const std::string& folder);
    void ApplyPendingChanges();

    TShell& Shell;
    std::unique_ptr<TShellNotifier> Notifier;
    bool FActive = false;
    SFolderOption FFolderOptions;
    TDisplayMode FDisplayMode = dmAsis;
    // The filled nodes by the folder they show; one folder can be shown by several nodes
    // (the Home node and the same folder below File System).
    std::multimap<std::string, TFolderItem*> FilledNodes;
    std::set<std::string> PendingFolders;
    // The mount table's mount points when last looked at.
    std::set<std::string> MountPoints;
    bool ChangesQueued = false;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TFolderTree::SFolderOption)

} // namespace cantorell
