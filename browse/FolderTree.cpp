#include "browse/FolderTree.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QSessionManager>

#include <algorithm>
#include <iterator>

namespace cantorell {

// A node of the tree: the item the view shows plus the record the tree keeps about it.
class TFolderTree::TFolderItem : public QTreeWidgetItem {
public:
    static constexpr int ItemType = QTreeWidgetItem::UserType + 0x4f54;

    explicit TFolderItem(TFolderNode data) : QTreeWidgetItem(ItemType), Data(std::move(data)) {}

    TFolderNode Data;
    // The node's folder was read and is watched; its children are current.
    bool Filled = false;
    // Placed by the tree itself (Computer, Home, Trash, Network), not found by reading a
    // folder: a refresh never removes it and sorting leaves it where it is.
    bool Fixed = false;
};

namespace {

TFolderTree::TFolderItem* AsFolderItem(QTreeWidgetItem* item) {
    if (!item || item->type() != TFolderTree::TFolderItem::ItemType)
        return nullptr;
    return static_cast<TFolderTree::TFolderItem*>(item);
}

// Bulk changes run with painting suppressed, so a refresh of thousands of nodes is drawn
// once; nested guards restore what they found.
class TRedrawGuard {
public:
    explicit TRedrawGuard(QWidget* widget) : Widget(widget), Was(widget->updatesEnabled()) {
        Widget->setUpdatesEnabled(false);
    }
    ~TRedrawGuard() { Widget->setUpdatesEnabled(Was); }
    TRedrawGuard(const TRedrawGuard&) = delete;
    TRedrawGuard& operator=(const TRedrawGuard&) = delete;

private:
    QWidget* Widget;
    bool Was;
};

// The busy cursor while a folder is read; a folder on a slow disk or share can take a while.
class TBusyCursor {
public:
    TBusyCursor() {
        if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            Set = true;
        }
    }
    ~TBusyCursor() {
        if (Set)
            QApplication::restoreOverrideCursor();
    }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

private:
    bool Set = false;
};

std::string ChildPath(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

bool IsSpecialKind(TNodeKind kind) {
    return kind == TNodeKind::nkNetwork || kind == TNodeKind::nkRecycleBin ||
           kind == TNodeKind::nkComputer;
}

// An absolute path with empty and "." components dropped and ".." resolved; empty when the
// path is not absolute.
std::vector<std::string> PathComponents(const std::string& path, bool& valid) {
    std::vector<std::string> parts;
    valid = !path.empty() && path[0] == '/';
    if (!valid)
        return parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    return parts;
}

std::string JoinComponents(const std::vector<std::string>& parts, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i)
        path += "/" + parts[i];
    return path.empty() ? "/" : path;
}

// Sibling folders are ordered by their texts without regard to case; names that differ only
// in case (both can exist on Linux) are then ordered by case, so the order never depends on
// the order of reading.
bool ShownBefore(const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
    const QString textA = a->text(0), textB = b->text(0);
    if (const int folded = QString::compare(textA, textB, Qt::CaseInsensitive); folded != 0)
        return folded < 0;
    if (const int exact = QString::compare(textA, textB, Qt::CaseSensitive); exact != 0)
        return exact < 0;
    return TFolderTree::NodeData(a)->Path < TFolderTree::NodeData(b)->Path;
}

// The children a refresh may remove and sorting orders: those between the fixed nodes at
// the start and at the end.
std::pair<int, int> OrdinaryRange(QTreeWidgetItem* node) {
    int first = 0, end = node->childCount();
    while (first < end && AsFolderItem(node->child(first))->Fixed)
        ++first;
    while (end > first && AsFolderItem(node->child(end - 1))->Fixed)
        --end;
    return {first, end};
}

} // namespace

TFolderTree::TFolderTree(QWidget* parent, TShell& shell) : QTreeWidget(parent), Shell(shell) {
    setColumnCount(1);
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // All rows are one line high; telling the view so keeps a folder of thousands of
    // subfolders quick to lay out.
    setUniformRowHeights(true);
    setExpandsOnDoubleClick(true);
    // Long folder names scroll sideways instead of being cut: the one column is as wide as
    // its widest shown name.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(this, &QTreeWidget::itemExpanded, this, &TFolderTree::NodeExpanded);
    // The selection, not the current item, is what the user sees chosen: a click with Ctrl
    // can take the selection away while the current item stays.
    connect(this, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> selected = selectedItems();
        emit Change(selected.isEmpty() ? nullptr : selected.first());
    });
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
            if (!QueryEndSession())
                manager.cancel();
        });
    }
}

TFolderTree::~TFolderTree() {
    // The base class deletes the items and may move the current item as it does; this part
    // of the object is gone by then and must not hear of it.
    disconnect(this, &QTreeWidget::itemSelectionChanged, this, nullptr);
    disconnect(this, &QTreeWidget::itemExpanded, this, nullptr);
    Notifier.reset();
    FilledNodes.clear();
}

// --- properties --------------------------------------------------------------------------

void TFolderTree::SetActive(bool value) {
    if (value == FActive)
        return;
    if (!value) {
        Notifier.reset();
        FilledNodes.clear();
        PendingFolders.clear();
        clear();
        FActive = false;
        return;
    }
    FActive = true;
    Notifier = std::make_unique<TShellNotifier>();
    connect(Notifier.get(), &TShellNotifier::FolderChanged, this, &TFolderTree::FolderChanged);
    connect(Notifier.get(), &TShellNotifier::MountsChanged, this, [this] {
        RefreshDrives();
        emit ChangesApplied();
    });
    const std::vector<std::string> points = Shell.MountPoints();
    MountPoints = std::set<std::string>(points.begin(), points.end());
    BuildTree();
    ApplyFolderOptions();
}

void TFolderTree::SetFolderOptions(SFolderOption value) {
    FFolderOptions = value;
    if (FActive)
        ApplyFolderOptions();
}

void TFolderTree::SetDisplayMode(TDisplayMode value) {
    FDisplayMode = value;
    if (!FActive)
        return;
    TRedrawGuard redraw(this);
    for (QTreeWidgetItemIterator it(this); *it; ++it) {
        if (const TFolderNode* entry = NodeData(*it))
            (*it)->setText(0, NodeText(entry->Name));
    }
}

// Upper and lower case follow Unicode, so accented names change case as the user reads them.
QString TFolderTree::NodeText(const QString& name) const {
    switch (FDisplayMode) {
    case dmUppercase:
        return name.toUpper();
    case dmLowercase:
        return name.toLower();
    case dmAsis:
        break;
    }
    return name;
}

// --- paths -------------------------------------------------------------------------------

const TFolderNode* TFolderTree::NodeData(const QTreeWidgetItem* Node) {
    if (!Node || Node->type() != TFolderItem::ItemType)
        return nullptr;
    return &static_cast<const TFolderItem*>(Node)->Data;
}

std::string TFolderTree::GetNodePath(const QTreeWidgetItem* Node) const {
    const TFolderNode* entry = NodeData(Node);
    if (!entry || IsSpecialKind(entry->Kind))
        return {};
    // A network share is a mounted folder here, so it reports its mount point like any
    // other folder.
    return entry->Path;
}

std::string TFolderTree::GetSelectedPath() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? std::string() : GetNodePath(selected.first());
}

QTreeWidgetItem* TFolderTree::FindSpecialNode(TNodeKind Kind) const {
    // The special nodes are the top node and children of it; nothing deeper needs a look.
    for (int top = 0; top < topLevelItemCount(); ++top) {
        QTreeWidgetItem* item = topLevelItem(top);
        if (NodeData(item) && NodeData(item)->Kind == Kind)
            return item;
        for (int i = 0; i < item->childCount(); ++i) {
            if (NodeData(item->child(i)) && NodeData(item->child(i))->Kind == Kind)
                return item->child(i);
        }
    }
    return nullptr;
}

QTreeWidgetItem* TFolderTree::FindNodeByPath(const std::string& Path, TFindMode Mode) {
    bool valid = false;
    const std::vector<std::string> parts = PathComponents(Path, valid);
    if (!valid || topLevelItemCount() == 0)
        return nullptr;

    // Where to start: the node with the longest path that contains the one sought, among the
    // Desktop, the Home folder, the volumes and the network shares. A path inside the home
    // folder is thus found below Home, a path on a USB stick below its volume.
    std::vector<QTreeWidgetItem*> starts;
    QTreeWidgetItem* top = topLevelItem(0);
    starts.push_back(top);
    for (int i = 0; i < top->childCount(); ++i) {
        QTreeWidgetItem* child = top->child(i);
        const TFolderNode* entry = NodeData(child);
        if (entry->Kind == TNodeKind::nkComputer || entry->Kind == TNodeKind::nkNetwork) {
            if (!AsFolderItem(child)->Filled)
                FillNode(child);
            for (int v = 0; v < child->childCount(); ++v)
                starts.push_back(child->child(v));
        } else if (AsFolderItem(child)->Fixed && entry->Kind == TNodeKind::nkFolder) {
            starts.push_back(child);
        }
    }
    QTreeWidgetItem* current = nullptr;
    size_t depth = 0;
    for (QTreeWidgetItem* start : starts) {
        bool startValid = false;
        const std::vector<std::string> startParts =
            PathComponents(NodeData(start)->Path, startValid);
        if (!startValid || startParts.size() > parts.size() ||
            !std::equal(startParts.begin(), startParts.end(), parts.begin()))
            continue;
        if (!current || startParts.size() > depth) {
            current = start;
            depth = startParts.size();
        }
    }
    if (!current)
        return nullptr;

    for (size_t i = depth; i < parts.size(); ++i) {
        TFolderItem* node = AsFolderItem(current);
        if (node->childCount() == 0 && Mode == TFindMode::fmExpand)
            FillNode(node);
        const std::string path = JoinComponents(parts, i + 1);
        QTreeWidgetItem* found = nullptr;
        for (int c = 0; c < node->childCount() && !found; ++c) {
            const TFolderNode* entry = NodeData(node->child(c));
            if (entry->Kind == TNodeKind::nkFolder && entry->Path == path)
                found = node->child(c);
        }
        if (!found)
            return Mode == TFindMode::fmNoExpand ? nullptr : current;
        current = found;
    }
    return current;
}

// --- building and filling ----------------------------------------------------------------

void TFolderTree::BuildTree() {
    TRedrawGuard redraw(this);
    const std::string desktopPath = Shell.DesktopPath();
    auto* desktop = new TFolderItem(TFolderNode{desktopPath, QStringLiteral("Desktop"), false,
                                                desktopPath, TNodeKind::nkDesktop});
    desktop->setIcon(0, Shell.Icon(TShellIcon::siDesktop));
    desktop->setText(0, NodeText(desktop->Data.Name));
    addTopLevelItem(desktop);

    auto* computer = new TFolderItem(
        TFolderNode{{}, QStringLiteral("Computer"), true, {}, TNodeKind::nkComputer});
    computer->Fixed = true;
    computer->setIcon(0, Shell.Icon(TShellIcon::siComputer));
    computer->setText(0, NodeText(computer->Data.Name));
    computer->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    desktop->addChild(computer);

    // Without a desktop folder the Desktop node shows the home folder itself; a Home node
    // beside it would show the same folders a second time.
    const std::string home = Shell.HomePath();
    if (home != desktopPath) {
        auto* homeNode = new TFolderItem(
            TFolderNode{home, QStringLiteral("Home"), true, home, TNodeKind::nkFolder});
        homeNode->Fixed = true;
        homeNode->setIcon(0, Shell.Icon(TShellIcon::siHome));
        homeNode->setText(0, NodeText(homeNode->Data.Name));
        homeNode->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        desktop->addChild(homeNode);
    }

    FillNode(desktop);
    expandItem(desktop);
    expandItem(computer);
}

TFolderTree::TFolderItem* TFolderTree::AddSpecialNode(TFolderNode entry, TShellIcon icon) {
    QTreeWidgetItem* desktop = topLevelItem(0);
    auto* node = new TFolderItem(std::move(entry));
    node->Fixed = true;
    node->setIcon(0, Shell.Icon(icon));
    node->setText(0, NodeText(node->Data.Name));
    node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    if (FFolderOptions.testFlag(foVirtualFirst))
        desktop->insertChild(0, node);
    else
        desktop->addChild(node);
    return node;
}

void TFolderTree::ApplyFolderOptions() {
    if (topLevelItemCount() == 0)
        return;
    TRedrawGuard redraw(this);
    QTreeWidgetItem* bin = FindSpecialNode(TNodeKind::nkRecycleBin);
    if (!FFolderOptions.testFlag(foRecycleBin) && bin) {
        DeleteNode(bin);
    } else if (FFolderOptions.testFlag(foRecycleBin) && !bin) {
        TFolderItem* node = AddSpecialNode(
            TFolderNode{
                {}, QStringLiteral("Trash"), true, Shell.TrashPath(), TNodeKind::nkRecycleBin},
            TShellIcon::siTrash);
        // An empty or never used trash has no folder yet; there is nothing to open then.
        if (!Shell.FolderExists(node->Data.Folder))
            node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    }
    QTreeWidgetItem* network = FindSpecialNode(TNodeKind::nkNetwork);
    if (!FFolderOptions.testFlag(foNetworkNeighborhood) && network) {
        DeleteNode(network);
    } else if (FFolderOptions.testFlag(foNetworkNeighborhood) && !network) {
        AddSpecialNode(TFolderNode{{}, QStringLiteral("Network"), true, {}, TNodeKind::nkNetwork},
                       TShellIcon::siNetwork);
    }
}

TFolderTree::TFolderItem* TFolderTree::MakeFolderItem(TFolderItem* parent,
                                                      const std::string& name) {
    const std::string path = ChildPath(parent->Data.Folder, name);
    auto* item = new TFolderItem(TFolderNode{
        path, QFile::decodeName(QByteArray::fromStdString(name)), true, path, TNodeKind::nkFolder});
    item->setIcon(0, Shell.Icon(TShellIcon::siFolder));
    item->setText(0, NodeText(item->Data.Name));
    // Whether a folder has subfolders is only known by reading it, which would read every
    // folder on screen; each gets a button, and expanding an empty one takes it away.
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return item;
}

bool TFolderTree::FillNode(QTreeWidgetItem* Node) {
    TFolderItem* node = AsFolderItem(Node);
    if (!node)
        return false;
    TBusyCursor busy;
    TRedrawGuard redraw(this);
    const TNodeKind kind = node->Data.Kind;
    if (kind == TNodeKind::nkComputer || kind == TNodeKind::nkNetwork) {
        std::vector<TVolume> volumes = Shell.Volumes();
        if (kind == TNodeKind::nkNetwork)
            std::erase_if(volumes, [](const TVolume& v) { return !v.Network; });
        MergeVolumes(node, volumes);
        node->Filled = true;
    } else {
        std::vector<std::string> names;
        if (!Shell.ListFolders(node->Data.Folder, names)) {
            // Unreadable (permission denied, gone, not a folder): keep the button so the
            // user can try again, show nothing.
            ResetNode(node);
            return false;
        }
        // Hidden folders (a leading dot: caches, settings) are not shown, as in a file
        // manager; a path typed into the window still opens them.
        std::erase_if(names, [](const std::string& name) { return name.starts_with('.'); });
        MergeFolders(node, names);
        SetFilled(node, true);
    }
    const bool hasChildren = node->childCount() > 0;
    node->setChildIndicatorPolicy(hasChildren ? QTreeWidgetItem::ShowIndicator
                                              : QTreeWidgetItem::DontShowIndicator);
    if (!hasChildren && node->treeWidget())
        node->setExpanded(false);
    return hasChildren;
}

void TFolderTree::MergeFolders(TFolderItem* node, const std::vector<std::string>& names) {
    std::set<std::string> wanted;
    for (const std::string& name : names)
        wanted.insert(ChildPath(node->Data.Folder, name));

    auto [first, end] = OrdinaryRange(node);
    std::set<std::string> kept;
    for (int i = end - 1; i >= first; --i) {
        QTreeWidgetItem* child = node->child(i);
        if (wanted.count(NodeData(child)->Path))
            kept.insert(NodeData(child)->Path);
        else
            DeleteNode(child);
    }

    std::vector<TFolderItem*> added;
    for (const std::string& name : names) {
        if (!kept.count(ChildPath(node->Data.Folder, name)))
            added.push_back(MakeFolderItem(node, name));
    }
    if (added.empty())
        return;
    std::sort(added.begin(), added.end(), ShownBefore);

    // Both the present children and the new ones are sorted: insert the new ones in runs,
    // each run before the first present child it precedes, so thousands of new folders cost
    // one insertion and not thousands.
    std::tie(first, end) = OrdinaryRange(node);
    size_t next = 0;
    int at = first;
    while (next < added.size()) {
        while (at < end && ShownBefore(node->child(at), added[next]))
            ++at;
        QList<QTreeWidgetItem*> run;
        while (next < added.size() && (at == end || ShownBefore(added[next], node->child(at))))
            run.append(added[next++]);
        node->insertChildren(at, run);
        at += static_cast<int>(run.size());
        end += static_cast<int>(run.size());
    }
}

void TFolderTree::MergeVolumes(TFolderItem* node, const std::vector<TVolume>& volumes) {
    const bool network = node->Data.Kind == TNodeKind::nkNetwork;
    for (int i = node->childCount() - 1; i >= 0; --i) {
        const std::string& path = NodeData(node->child(i))->Path;
        if (std::none_of(volumes.begin(), volumes.end(),
                         [&](const TVolume& v) { return v.RootPath == path; }))
            DeleteNode(node->child(i));
    }
    for (size_t index = 0; index < volumes.size(); ++index) {
        const TVolume& volume = volumes[index];
        TFolderItem* present = nullptr;
        for (int i = 0; i < node->childCount() && !present; ++i) {
            if (NodeData(node->child(i))->Path == volume.RootPath)
                present = AsFolderItem(node->child(i));
        }
        if (present) {
            if (present->Data.Name != volume.DisplayName) {
                // Another medium in the same place: what was read of the old one is stale.
                ResetNode(present);
                present->Data.Name = volume.DisplayName;
                present->setText(0, NodeText(volume.DisplayName));
            }
            continue;
        }
        auto* item =
            new TFolderItem(TFolderNode{volume.RootPath, volume.DisplayName, true, volume.RootPath,
                                        network ? TNodeKind::nkNetworkItem : TNodeKind::nkFolder});
        item->setIcon(
            0, Shell.Icon(volume.Network ? TShellIcon::siNetworkDrive : TShellIcon::siDrive));
        item->setText(0, NodeText(volume.DisplayName));
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        node->insertChild(std::min(static_cast<int>(index), node->childCount()), item);
    }
}

void TFolderTree::SetFilled(TFolderItem* node, bool filled) {
    if (node->Filled == filled || node->Data.Folder.empty()) {
        node->Filled = filled;
        return;
    }
    node->Filled = filled;
    if (filled) {
        FilledNodes.emplace(node->Data.Folder, node);
        if (Notifier)
            Notifier->Watch(node->Data.Folder);
        return;
    }
    auto [from, to] = FilledNodes.equal_range(node->Data.Folder);
    for (auto it = from; it != to; ++it) {
        if (it->second == node) {
            FilledNodes.erase(it);
            break;
        }
    }
    if (Notifier)
        Notifier->Unwatch(node->Data.Folder);
}

// Drops what was read below a node; it will be read again when next expanded.
void TFolderTree::ResetNode(TFolderItem* node) {
    TRedrawGuard redraw(this);
    if (node->treeWidget())
        node->setExpanded(false);
    auto [first, end] = OrdinaryRange(node);
    if (first == 0 && end == node->childCount() && end > 0) {
        // Everything goes (a volume or a folder that became unreadable): one removal
        // instead of one per child keeps a reset of thousands of nodes quick.
        for (QTreeWidgetItem* at = currentItem(); at; at = at->parent()) {
            if (at->parent() == node) {
                setCurrentItem(node);
                break;
            }
        }
        for (int i = 0; i < end; ++i)
            ForgetFilled(node->child(i));
        qDeleteAll(node->takeChildren());
    } else {
        for (int i = end - 1; i >= first; --i)
            DeleteNode(node->child(i));
    }
    SetFilled(node, false);
    node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
}

void TFolderTree::DeleteNode(QTreeWidgetItem* item) {
    // A deleted selection moves to the deleted node's parent rather than to a neighbour, so
    // the file list does not jump to an unrelated folder.
    for (QTreeWidgetItem* at = currentItem(); at; at = at->parent()) {
        if (at == item) {
            if (item->parent())
                setCurrentItem(item->parent());
            break;
        }
    }
    ForgetFilled(item);
    delete item;
}

void TFolderTree::ForgetFilled(QTreeWidgetItem* item) {
    std::vector<TFolderItem*> stack{AsFolderItem(item)};
    while (!stack.empty()) {
        TFolderItem* node = stack.back();
        stack.pop_back();
        if (!node)
            continue;
        SetFilled(node, false);
        for (int i = 0; i < node->childCount(); ++i)
            stack.push_back(AsFolderItem(node->child(i)));
    }
}

// --- expanding ---------------------------------------------------------------------------

void TFolderTree::NodeExpanded(QTreeWidgetItem* item) {
    TFolderItem* node = AsFolderItem(item);
    if (!node || node->childCount() > 0)
        return;
    // A node expands only when reading it gave children; an empty folder loses its button,
    // an unreadable one keeps it.
    if (!FillNode(node))
        collapseItem(node);
}

void TFolderTree::keyPressEvent(QKeyEvent* event) {
    // The view's "expand everything below" key would read the whole disk below the node;
    // here it opens one level, like the plus key.
    if (event->key() == Qt::Key_Asterisk) {
        if (QTreeWidgetItem* item = currentItem())
            expandItem(item);
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void TFolderTree::mouseDoubleClickEvent(QMouseEvent* event) {
    // When the clicked folder turned out to be gone and was removed, the view's own handling
    // (opening or closing the node under the mouse) would act on whatever moved into its place.
    if (!DoubleClicked()) {
        event->accept();
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

void TFolderTree::resizeEvent(QResizeEvent* event) {
    QTreeWidget::resizeEvent(event);
    // The column grows with its longest name, but never stays narrower than the view, so
    // a selected row is highlighted across the whole view.
    header()->setMinimumSectionSize(viewport()->width());
}

bool TFolderTree::DoubleClicked() {
    TFolderItem* node = AsFolderItem(currentItem());
    if (!node)
        return true;
    const TFolderNode* parent = NodeData(node->parent());
    const bool volumeOrSpecial = node->Data.Path.empty() ||
                                 node->Data.Kind == TNodeKind::nkNetworkItem ||
                                 (parent && parent->Kind == TNodeKind::nkComputer);
    if (volumeOrSpecial) {
        // A medium may have arrived since the volume was last read: offer to read it again.
        if (node->childCount() == 0)
            node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        return true;
    }
    // A folder that vanished without a notice (for example on a network share) goes from
    // its parent.
    if (Shell.FolderExists(node->Data.Path) || !node->parent())
        return true;
    RefreshNode(node->parent());
    return false;
}

// --- refreshing --------------------------------------------------------------------------

void TFolderTree::RefreshNode(QTreeWidgetItem* Node) {
    TFolderItem* node = AsFolderItem(Node);
    if (!node)
        return;
    const TNodeKind kind = node->Data.Kind;
    if (kind == TNodeKind::nkComputer || kind == TNodeKind::nkNetwork) {
        if (node->Filled)
            FillNode(node);
        return;
    }
    if (!node->Filled && node->parent()) {
        // Never read: nothing shown can be stale, it will be read when expanded.
        if (node->childCount() == 0)
            node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        return;
    }
    FillNode(node);
}

void TFolderTree::RefreshDriveNode(const std::string& RootPath, TRefreshMode Mode) {
    QTreeWidgetItem* computer = FindSpecialNode(TNodeKind::nkComputer);
    if (!computer)
        return;
    TFolderItem* drive = nullptr;
    for (int i = 0; i < computer->childCount() && !drive; ++i) {
        if (NodeData(computer->child(i))->Path == RootPath)
            drive = AsFolderItem(computer->child(i));
    }
    if (!drive)
        return;
    const std::vector<TVolume> volumes = Shell.Volumes();
    const auto volume = std::find_if(volumes.begin(), volumes.end(),
                                     [&](const TVolume& v) { return v.RootPath == RootPath; });
    if (volume == volumes.end())
        return;
    if (volume->DisplayName == drive->Data.Name && Mode != TRefreshMode::rmForce)
        return;
    TRedrawGuard redraw(this);
    ResetNode(drive);
    drive->Data.Name = volume->DisplayName;
    drive->setText(0, NodeText(volume->DisplayName));
}

void TFolderTree::RefreshDrives() {
    TRedrawGuard redraw(this);
    // A folder something was mounted on or unmounted from shows other contents now, and
    // its watch still follows the folder that was covered or uncovered: what was read of it
    // goes, and it is read and watched afresh when next expanded.
    std::vector<std::string> points = Shell.MountPoints();
    std::set<std::string> now(points.begin(), points.end());
    std::vector<std::string> changed;
    std::set_symmetric_difference(MountPoints.begin(), MountPoints.end(), now.begin(), now.end(),
                                  std::back_inserter(changed));
    MountPoints = std::move(now);
    for (const std::string& point : changed) {
        std::vector<TFolderItem*> nodes;
        auto [from, to] = FilledNodes.equal_range(point);
        for (auto it = from; it != to; ++it)
            nodes.push_back(it->second);
        // Resetting one node never deletes another of the same folder: the nodes of one
        // folder are never inside each other except through a link, which has its own path.
        for (TFolderItem* node : nodes)
            ResetNode(node);
    }
    for (TNodeKind kind : {TNodeKind::nkComputer, TNodeKind::nkNetwork}) {
        if (TFolderItem* node = AsFolderItem(FindSpecialNode(kind)); node && node->Filled)
            FillNode(node);
    }
}

void TFolderTree::FolderChanged(const std::string& folder) {
    // One change on disk often comes as several notices (a copy creates and then writes);
    // they are gathered and applied once, after the event loop has delivered them all.
    PendingFolders.insert(folder);
    if (ChangesQueued)
        return;
    ChangesQueued = true;
    QMetaObject::invokeMethod(this, &TFolderTree::ApplyPendingChanges, Qt::QueuedConnection);
}

void TFolderTree::ApplyPendingChanges() {
    ChangesQueued = false;
    const std::set<std::string> folders = std::move(PendingFolders);
    PendingFolders.clear();
    TRedrawGuard redraw(this);
    for (const std::string& folder : folders) {
        // A refresh may delete other nodes of the same folder (one inside the other through
        // a link), so the list is looked up again after each.
        std::set<TFolderItem*> done;
        for (;;) {
            TFolderItem* next = nullptr;
            auto [from, to] = FilledNodes.equal_range(folder);
            for (auto it = from; it != to && !next; ++it) {
                if (!done.count(it->second))
                    next = it->second;
            }
            if (!next)
                break;
            done.insert(next);
            RefreshNode(next);
        }
        // A folder removed and made again at once keeps its nodes but not its watch.
        if (Notifier && FilledNodes.count(folder))
            Notifier->Renew(folder);
    }
    emit ChangesApplied();
}

// --- session -----------------------------------------------------------------------------

void TFolderTree::DoEndSessionQuery(bool& CanEndSession) {
    if (OnEndSessionQuery)
        OnEndSessionQuery(this, CanEndSession);
}

bool TFolderTree::QueryEndSession() {
    bool canEnd = true;
    DoEndSessionQuery(canEnd);
    return canEnd;
}

} // namespace cantorell
