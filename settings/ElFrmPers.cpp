#include "settings/ElFrmPers.h"

#include "settings/ElCollection.h"
#include "settings/ElIni.h"
#include "settings/ElPropTools.h"
#include "support/ElHook.h"

#include <QApplication>
#include <QEvent>
#include <QtDebug>

#include <algorithm>
#include <exception>
#include <sstream>

namespace cantorell {

namespace {

// Stored sizes and positions are cut to the range a widget can take (QWIDGETSIZE_MAX)
// before any rectangle arithmetic: a hand-edited 2147483647 would overflow it. The window
// placement then fits the window to the screen.
constexpr int32_t kMaxCoordinate = (1 << 24) - 1;

// Entries longer than this are not property names; the limit keeps a damaged list from
// asking for gigabytes.
constexpr int32_t MaxNameLength = 64 * 1024;

std::vector<TElFormPersist*>& Instances() {
    static std::vector<TElFormPersist*> instances;
    return instances;
}

QMetaObject::Connection& ApplicationHook() {
    static QMetaObject::Connection hook;
    return hook;
}

std::string Utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

void WriteInt32(std::iostream& stream, int32_t value) {
    char bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>(static_cast<uint32_t>(value) >> (8 * i));
    stream.write(bytes, 4);
}

void ReadExactly(std::iostream& stream, char* buffer, std::streamsize size) {
    if (!stream.read(buffer, size) || stream.gcount() != size)
        throw EElStreamError("The property list ends inside an entry");
}

int32_t ReadInt32(std::iostream& stream) {
    unsigned char bytes[4];
    ReadExactly(stream, reinterpret_cast<char*>(bytes), 4);
    return static_cast<int32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                                (static_cast<uint32_t>(bytes[3]) << 24));
}

void SaveItem(TElMTree&, TElMTreeItem* item, std::iostream& stream) {
    const auto* data = static_cast<const TElPropData*>(item->Data);
    const TElPropData empty;
    if (data == nullptr)
        data = &empty;
    const char flags[2] = {static_cast<char>(data->Kind), static_cast<char>(data->StoreAll)};
    stream.write(flags, 2);
    WriteInt32(stream, static_cast<int32_t>(data->Name.size()));
    stream.write(data->Name.data(), static_cast<std::streamsize>(data->Name.size()));
}

void LoadItem(TElMTree&, TElMTreeItem* item, std::iostream& stream) {
    auto data = std::make_unique<TElPropData>();
    char flags[2];
    ReadExactly(stream, flags, 2);
    data->Kind = static_cast<uint8_t>(flags[0]);
    data->StoreAll = flags[1] != 0;
    const int32_t length = ReadInt32(stream);
    if (length < 0 || length > MaxNameLength)
        throw EElStreamError("The property list holds a name of " + std::to_string(length) +
                             " bytes");
    data->Name.resize(static_cast<size_t>(length));
    ReadExactly(stream, data->Name.data(), length);
    item->Data = data.release();
}

void DeleteItem(TElMTree&, TElMTreeItem*, void* data) {
    delete static_cast<TElPropData*>(data);
}

QWidget* FindOwnerForm(QObject* start) {
    for (QObject* object = start; object != nullptr; object = object->parent()) {
        auto* widget = qobject_cast<QWidget*>(object);
        if (widget != nullptr && widget->isWindow())
            return widget;
    }
    return nullptr;
}

// "Columns<3>": the property name and the index; an index that is not a decimal number
// is -1, which no collection has.
void SplitItemName(const std::string& name, std::string& property, int& index) {
    const size_t open = name.find('<');
    property = name.substr(0, open);
    index = -1;
    if (open == std::string::npos)
        return;
    const size_t close = name.find('>', open + 1);
    const std::string digits =
        name.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
    bool ok = false;
    const int value = QString::fromStdString(digits).toInt(&ok, 10);
    if (ok)
        index = value;
}

} // namespace

// ---------------------------------------------------------------------------------------
// TElMinMaxInfo

void TElMinMaxInfo::SetValue(TIndex index, int value) {
    if (FValues[index] == value)
        return;
    FValues[index] = value;
    if (Changed)
        Changed();
}

void TElMinMaxInfo::Assign(const TElMinMaxInfo& source) {
    bool changed = false;
    for (int i = 0; i < miCount; ++i) {
        changed = changed || FValues[i] != source.FValues[i];
        FValues[i] = source.FValues[i];
    }
    if (changed && Changed)
        Changed();
}

// ---------------------------------------------------------------------------------------
// TElFormPersist

TElFormPersist::TElFormPersist(QObject* owner, TWindowPlacement& placement)
    : QObject(owner), FPlacement(placement), FOwnerForm(FindOwnerForm(owner)),
      FHook(std::make_unique<TElHook>()), FMinMaxInfo(std::make_unique<TElMinMaxInfo>()) {
    FHook->OnBeforeProcess = [this](TElHook&, QEvent& msg, bool& handled) {
        BeforeProcess(msg, handled);
    };
    FHook->OnAfterProcess = [this](TElHook&, QEvent& msg, bool& handled) {
        AfterProcess(msg, handled);
    };
    FHook->SetControl(FOwnerForm.data());
    FMinMaxInfo->Changed = [this] { ApplySizeLimits(); };
    FActive = true;
    if (FOwnerForm && FOwnerForm->windowHandle() != nullptr &&
        FPlacement.State(*FOwnerForm) == TWindowPlacement::wsNormal)
        FNormalBounds = FPlacement.Bounds(*FOwnerForm);
    FHook->SetActive(true);
    FPropList.OnItemSave = SaveItem;
    FPropList.OnItemLoad = LoadItem;
    FPropList.OnItemDelete = DeleteItem;

    Instances().push_back(this);
    if (!ApplicationHook() && qApp != nullptr) {
        ApplicationHook() = connect(qApp, &QGuiApplication::applicationStateChanged, qApp,
                                    [](Qt::ApplicationState state) {
                                        if (state == Qt::ApplicationActive)
                                            return;
                                        for (TElFormPersist* persist : Instances())
                                            persist->ApplicationDeactivated();
                                    });
    }
}

TElFormPersist::~TElFormPersist() {
    auto& instances = Instances();
    instances.erase(std::remove(instances.begin(), instances.end(), this), instances.end());
    if (instances.empty() && ApplicationHook()) {
        disconnect(ApplicationHook());
        ApplicationHook() = {};
    }
    SetActive(false);
    FHook.reset();
}

const std::vector<TElFormPersist*>& TElFormPersist::FormPersistList() {
    return Instances();
}

void TElFormPersist::SetActive(bool value) {
    FActive = value;
    if (FHook)
        FHook->SetActive(value);
}

bool TElFormPersist::CanWork() const {
    return FActive && FStorage != nullptr && FOwnerForm;
}

std::string TElFormPersist::KeyPath(const QString& ownerName) const {
    return Utf8(FStoragePath) + FStorage->Delimiter() + Utf8(ownerName);
}

void TElFormPersist::SetTopMost(bool value) {
    if (value == FTopMost)
        return;
    FTopMost = value;
    if (FOwnerForm)
        FPlacement.SetTopMost(*FOwnerForm, value);
}

void TElFormPersist::ApplyTopMost() {
    if (!FTopMost)
        return;
    SetTopMost(false);
    SetTopMost(true);
}

void TElFormPersist::SetFlipped(bool value) {
    if (value == FFlipped)
        return;
    FFlipped = value;
    if (!FOwnerForm)
        return;
    if (value) {
        FUnflippedBounds = FPlacement.Bounds(*FOwnerForm);
        // Qt keeps the window at least as large as its layout needs: the smallest height
        // it allows is the closest a window can come to showing only its title bar.
        FOwnerForm->resize(FOwnerForm->width(), 0);
        ApplySizeLimits();
    } else {
        ApplySizeLimits();
        FOwnerForm->resize(FOwnerForm->width(), FUnflippedBounds.height());
    }
}

void TElFormPersist::ApplySizeLimits() {
    if (!FOwnerForm)
        return;
    const TElMinMaxInfo& info = *FMinMaxInfo;
    const bool any =
        FFlipped || info.MinTrackX() || info.MinTrackY() || info.MaxTrackX() || info.MaxTrackY();
    // A window whose limits were never touched keeps those its own code gave it.
    if (!any && !FLimitsApplied)
        return;
    QSize maximum(info.MaxTrackX(), info.MaxTrackY());
    if (FFlipped)
        maximum = FOwnerForm->size();
    FPlacement.SetSizeLimits(*FOwnerForm, QSize(info.MinTrackX(), info.MinTrackY()), maximum);
    FLimitsApplied = any;
}

void TElFormPersist::RecordNormalBounds() {
    if (FOwnerForm && FPlacement.State(*FOwnerForm) == TWindowPlacement::wsNormal)
        FNormalBounds = FPlacement.Bounds(*FOwnerForm);
}

void TElFormPersist::Loaded() {
    ApplyTopMost();
    if (FFlipped) {
        FFlipped = false;
        SetFlipped(true);
    }
}

QByteArray TElFormPersist::PropsToStore() const {
    std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
    const_cast<TElMTree&>(FPropList).SaveToStream(stream);
    const std::string bytes = stream.str();
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

void TElFormPersist::SetPropsToStore(const QByteArray& bytes) {
    std::stringstream stream(bytes.toStdString(), std::ios::in | std::ios::out | std::ios::binary);
    try {
        FPropList.LoadFromStream(stream);
    } catch (const std::exception& error) {
        qWarning("The stored property list is damaged: %s", error.what());
        // The item whose data could not be read stays in the tree without a record; it
        // and its subtree go, so that the list only holds complete entries.
        std::vector<TElMTreeItem*> pending{FPropList.Root()};
        std::vector<TElMTreeItem*> broken;
        while (!pending.empty()) {
            TElMTreeItem* item = pending.back();
            pending.pop_back();
            for (int32_t i = 0; i < item->List->Count(); ++i) {
                auto* child = static_cast<TElMTreeItem*>(item->List->Get(i));
                (child->Data == nullptr ? broken : pending).push_back(child);
            }
        }
        for (TElMTreeItem* item : broken)
            FPropList.DeleteItem(item);
    }
}

template <typename F> void TElFormPersist::Guarded(F step) {
    try {
        step();
    } catch (const std::exception& error) {
        const QString message = QString::fromUtf8(error.what());
        if (OnError)
            OnError(message);
        else
            qWarning("%s", error.what());
    } catch (...) {
        if (OnError)
            OnError(QStringLiteral("An unexpected error occurred."));
    }
}

// ---------------------------------------------------------------------------------------
// Window values

template <typename F> void TElFormPersist::InWindowKey(F act) {
    if (!CanWork())
        return;
    const TElIniKeyKeeper keeper(*FStorage);
    const QObject* owner = parent();
    if (FStorage->OpenKey(KeyPath(owner ? owner->objectName() : QString()), true))
        act(*FStorage, *FOwnerForm);
}

void TElFormPersist::SaveWindowValues() {
    InWindowKey([this](TElIniFile& store, const QWidget& form) { WriteWindowValues(store, form); });
}

void TElFormPersist::RestoreWindowValues() {
    InWindowKey([this](TElIniFile& store, QWidget& form) { ReadWindowValues(store, form); });
}

void TElFormPersist::WriteWindowValues(TElIniFile& store, const QWidget& form) {
    if (FPersistOptions & epoState) {
        store.WriteInteger("", "State", FPlacement.State(form));
        store.WriteBool("", "Topmost", FTopMost);
    }
    if (FPersistOptions & epoActiveControl) {
        const QWidget* focused = form.focusWidget();
        if (focused != nullptr && !focused->objectName().isEmpty())
            store.WriteString("", "Active control", Utf8(focused->objectName()));
    }
    if (FPersistOptions & epoSize) {
        store.WriteInteger("", "Width", FNormalBounds.width());
        store.WriteInteger("", "Height", FNormalBounds.height());
    }
    if (FPersistOptions & epoPosition) {
        store.WriteInteger("", "Left", FNormalBounds.left());
        store.WriteInteger("", "Top", FNormalBounds.top());
    }
}

void TElFormPersist::ReadWindowValues(TElIniFile& store, QWidget& form) {
    if (FPersistOptions & epoActiveControl) {
        std::string name;
        if (store.ReadString("", "Active control", "", name) && !name.empty()) {
            auto* control = form.findChild<QWidget*>(QString::fromStdString(name));
            if (control != nullptr && control->isEnabled() && control->focusPolicy() != Qt::NoFocus)
                control->setFocus();
        }
    }
    const bool normal = FPlacement.State(form) == TWindowPlacement::wsNormal;
    if ((FPersistOptions & epoSize) && normal) {
        QRect bounds = FPlacement.Bounds(form);
        int32_t width = 0;
        int32_t height = 0;
        if (store.ReadInteger("", "Width", bounds.width(), width) && width >= 0 &&
            store.ReadInteger("", "Height", bounds.height(), height) && height >= 0) {
            bounds.setSize(
                QSize(std::min(width, kMaxCoordinate), std::min(height, kMaxCoordinate)));
            FPlacement.SetBounds(form, bounds);
        }
    }
    if ((FPersistOptions & epoPosition) && normal) {
        QRect bounds = FPlacement.Bounds(form);
        int32_t left = 0;
        int32_t top = 0;
        if (store.ReadInteger("", "Left", bounds.left(), left) &&
            store.ReadInteger("", "Top", bounds.top(), top)) {
            bounds.moveTo(std::clamp(left, -kMaxCoordinate, kMaxCoordinate),
                          std::clamp(top, -kMaxCoordinate, kMaxCoordinate));
            FPlacement.SetBounds(form, bounds);
        }
    }
    if (FPersistOptions & epoState)
        RestoreWindowState(store, form);
}

void TElFormPersist::RestoreWindowState(TElIniFile& store, QWidget& form) {
    int32_t state = 0;
    if (store.ReadInteger("", "State", 0, state)) {
        switch (state & 0xFF) {
        case 1:
            FPlacement.SetState(form, TWindowPlacement::wsMinimized);
            break;
        case 2:
            FPlacement.SetState(form, TWindowPlacement::wsMaximized);
            break;
        default:
            FPlacement.SetState(form, TWindowPlacement::wsNormal);
            break;
        }
    }
    bool topMost = false;
    store.ReadBool("", "Topmost", false, topMost);
    SetTopMost(topMost);
}

// ---------------------------------------------------------------------------------------
// Listed properties

void TElFormPersist::SaveListedProperties() {
    if (!FOwnerForm || !(FPersistOptions & epoProperties) || FStorage == nullptr)
        return;
    WalkList(FPropList.Root(), nullptr, KeyPath(FOwnerForm->objectName()), true);
}

void TElFormPersist::RestoreListedProperties() {
    if (!FOwnerForm || !(FPersistOptions & epoProperties) || FStorage == nullptr)
        return;
    WalkList(FPropList.Root(), nullptr, KeyPath(FOwnerForm->objectName()), false);
}

void TElFormPersist::SaveAll() {
    SaveWindowValues();
    SaveListedProperties();
    DoSave();
}

void TElFormPersist::RestoreAll() {
    // The window's flags are applied before the bounds and again after the callbacks,
    // which may change them.
    ApplyTopMost();
    RestoreWindowValues();
    RestoreListedProperties();
    DoRestore();
    ApplyTopMost();
}

void TElFormPersist::WalkList(TElMTreeItem* node, QObject* object, const std::string& key,
                              bool saving) {
    TElIniFile& store = *FStorage;
    const TElIniKeyKeeper keeper(store);
    if (!store.OpenKey(key, true))
        return;
    for (int32_t i = 0; i < node->List->Count(); ++i)
        WalkChild(static_cast<TElMTreeItem*>(node->List->Get(i)), object, saving);
}

void TElFormPersist::WalkObject(TElMTreeItem* child, QObject* object, const std::string& name,
                                bool saving) {
    const auto* data = static_cast<const TElPropData*>(child->Data);
    TElIniFile& store = *FStorage;
    if (data->StoreAll) {
        if (saving)
            SaveObject(object, store);
        else
            LoadObject(object, store);
        return;
    }
    std::string key = store.CurrentKey();
    if (key.empty() || key.back() != store.Delimiter())
        key += store.Delimiter();
    WalkList(child, object, key + name, saving);
}

void TElFormPersist::WalkChild(TElMTreeItem* child, QObject* object, bool saving) {
    const auto* data = static_cast<const TElPropData*>(child->Data);
    if (data == nullptr)
        return;
    const QString name = QString::fromUtf8(data->Name.data(), qsizetype(data->Name.size()));
    switch (data->Kind) {
    case TElPropData::pdkObject: {
        QObject* target = nullptr;
        if (object == nullptr) {
            if (!name.isEmpty())
                target = FOwnerForm->findChild<QObject*>(name);
        } else if (const auto property = FindProperty(*object, name)) {
            if (property->Kind == TPropKind::pkClass &&
                (property->Meta.metaType().flags() & QMetaType::PointerToQObject))
                target = property->Meta.read(object).value<QObject*>();
        }
        if (target != nullptr)
            WalkObject(child, target, data->Name, saving);
        break;
    }
    case TElPropData::pdkCollectionItem: {
        if (object == nullptr)
            break;
        std::string propertyName;
        int index = -1;
        SplitItemName(data->Name, propertyName, index);
        const auto property = FindProperty(*object, QString::fromStdString(propertyName));
        if (!property || property->Kind != TPropKind::pkClass ||
            !(property->Meta.metaType().flags() & QMetaType::PointerToQObject))
            break;
        auto* collection =
            qobject_cast<TElCollection*>(property->Meta.read(object).value<QObject*>());
        if (collection == nullptr || index < 0 || index >= collection->Count())
            break;
        WalkObject(child, collection->Item(index), data->Name, saving);
        break;
    }
    case TElPropData::pdkProperty: {
        if (object == nullptr)
            break;
        const auto property = FindProperty(*object, name);
        if (!property)
            break;
        TElIniFile& store = *FStorage;
        switch (property->Kind) {
        case TPropKind::pkInteger:
        case TPropKind::pkEnumeration:
        case TPropKind::pkSet:
            saving ? SaveOrdProperty(object, *property, store)
                   : LoadOrdProperty(object, *property, store);
            break;
        case TPropKind::pkFloat:
            saving ? SaveFloatProperty(object, *property, store)
                   : LoadFloatProperty(object, *property, store);
            break;
        case TPropKind::pkString:
            saving ? SaveStrProperty(object, *property, store)
                   : LoadStrProperty(object, *property, store);
            break;
        case TPropKind::pkClass:
            if (property->Meta.metaType().id() == QMetaType::QStringList)
                saving ? SaveStringListProperty(object, *property, store)
                       : LoadStringListProperty(object, *property, store);
            break;
        case TPropKind::pkOther:
            break;
        }
        break;
    }
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------
// Events

void TElFormPersist::BeforeProcess(QEvent& msg, bool&) {
    if (!FActive || !FOwnerForm)
        return;
    // The first show stands for the window's creation: the window system learns the
    // always-on-top flag and the limits, and the bounds the window starts with count as
    // its normal bounds.
    if (msg.type() == QEvent::Show && !msg.spontaneous() && !FCreated) {
        FCreated = true;
        Guarded([this] {
            ApplyTopMost();
            ApplySizeLimits();
            RecordNormalBounds();
        });
    }
}

void TElFormPersist::AfterProcess(QEvent& msg, bool&) {
    if (!FOwnerForm)
        return;
    switch (msg.type()) {
    case QEvent::Move:
    case QEvent::Resize:
        RecordNormalBounds();
        break;
    case QEvent::Hide:
    case QEvent::Show:
        // Only the program's own hiding and showing; a spontaneous one (the window
        // minimised or its desktop switched) leaves the store alone.
        if (!msg.spontaneous()) {
            const bool shown = msg.type() == QEvent::Show;
            Guarded([this, shown] { shown ? RestoreAll() : SaveAll(); });
        }
        break;
    default:
        break;
    }
}

void TElFormPersist::ApplicationDeactivated() {
    if (FTopMost && FOwnerForm && FOwnerForm->isVisible())
        FPlacement.ReassertTopMost(*FOwnerForm);
}

} // namespace cantorell
