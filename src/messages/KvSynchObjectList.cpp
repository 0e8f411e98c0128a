#include "messages/KvSynchObjectList.h"

#include <stdexcept>
#include <string>
#include <utility>

TKvSynchObjectList::TKvSynchObjectList(bool OwnsObjects) : FOwnsObjects(OwnsObjects) {}

TKvSynchObjectList::~TKvSynchObjectList()
{
    if (FOwnsObjects)
        qDeleteAll(FList);
}

void TKvSynchObjectList::Lock()
{
    FLock.lock();
}

void TKvSynchObjectList::Unlock()
{
    FLock.unlock();
}

void TKvSynchObjectList::CheckIndex(int Index, int Upper) const
{
    if (Index < 0 || Index > Upper)
        throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
}

void TKvSynchObjectList::FreeItem(QObject* Item) const
{
    if (FOwnsObjects)
        delete Item;
}

int TKvSynchObjectList::Add(QObject* Item)
{
    TLockGuard Guard(*this);
    FList.append(Item);
    return int(FList.size() - 1);
}

QObject* TKvSynchObjectList::Extract(QObject* Item)
{
    TLockGuard Guard(*this);
    const qsizetype Index = FList.indexOf(Item);
    if (Index < 0)
        return nullptr;
    FList.removeAt(Index);
    return Item;
}

int TKvSynchObjectList::Remove(QObject* Item)
{
    TLockGuard Guard(*this);
    const qsizetype Index = FList.indexOf(Item);
    if (Index < 0)
        return -1;
    FList.removeAt(Index);
    FreeItem(Item);
    return int(Index);
}

int TKvSynchObjectList::IndexOf(QObject* Item)
{
    TLockGuard Guard(*this);
    return int(FList.indexOf(Item));
}

int TKvSynchObjectList::FindInstanceOf(const QMetaObject* Class, bool Exact, int StartAt)
{
    TLockGuard Guard(*this);
    if (!Class)
        return -1;
    for (qsizetype I = qMax(StartAt, 0); I < FList.size(); ++I) {
        const QObject* Item = FList.at(I);
        if (!Item)
            continue;
        if (Exact ? Item->metaObject() == Class : Class->cast(Item) != nullptr)
            return int(I);
    }
    return -1;
}

void TKvSynchObjectList::Insert(int Index, QObject* Item)
{
    TLockGuard Guard(*this);
    CheckIndex(Index, int(FList.size()));
    FList.insert(Index, Item);
}

QObject* TKvSynchObjectList::First()
{
    TLockGuard Guard(*this);
    CheckIndex(0, int(FList.size()) - 1);
    return FList.first();
}

QObject* TKvSynchObjectList::Last()
{
    TLockGuard Guard(*this);
    CheckIndex(int(FList.size()) - 1, int(FList.size()) - 1);
    return FList.last();
}

void TKvSynchObjectList::Clear()
{
    TLockGuard Guard(*this);
    // Detach the items first so that a destructor which looks at the list sees it empty.
    const QList<QObject*> Items = std::exchange(FList, {});
    for (QObject* Item : Items)
        FreeItem(Item);
}

int TKvSynchObjectList::Count()
{
    TLockGuard Guard(*this);
    return int(FList.size());
}

void TKvSynchObjectList::Delete(int Index)
{
    TLockGuard Guard(*this);
    CheckIndex(Index, int(FList.size()) - 1);
    QObject* Item = FList.takeAt(Index);
    FreeItem(Item);
}

QObject* TKvSynchObjectList::Items(int Index)
{
    TLockGuard Guard(*this);
    CheckIndex(Index, int(FList.size()) - 1);
    return FList.at(Index);
}
