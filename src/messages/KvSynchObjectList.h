#pragma once
// An object list shared between threads: every operation runs under one re-entrant lock, so
// the thread that holds it may call further operations. A caller that needs several operations
// to act as one (look up, then add) takes the lock around them with Lock/Unlock or
// TKvSynchObjectList::TLockGuard.
//
// Items are QObjects so that a lookup by class (FindInstanceOf) works at run time through
// their meta-objects. A list constructed with OwnsObjects frees items it deletes, removes or
// clears, and frees the remaining items when it is destroyed.

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QRecursiveMutex>

class TKvSynchObjectList {
public:
    explicit TKvSynchObjectList(bool OwnsObjects = true);
    virtual ~TKvSynchObjectList();

    TKvSynchObjectList(const TKvSynchObjectList&) = delete;
    TKvSynchObjectList& operator=(const TKvSynchObjectList&) = delete;

    virtual void Lock();
    virtual void Unlock();
    // Appends; returns the new item's index.
    virtual int Add(QObject* Item);
    // Removes the first occurrence without freeing it; returns it, or nullptr when absent.
    virtual QObject* Extract(QObject* Item);
    // Removes the first occurrence (freeing it when owned); returns its former index or -1.
    virtual int Remove(QObject* Item);
    virtual int IndexOf(QObject* Item);
    // Index of the first item at or after StartAt whose class is Class (Exact) or Class or one
    // of its descendants; -1 when there is none.
    virtual int FindInstanceOf(const QMetaObject* Class, bool Exact = true, int StartAt = 0);
    // Inserts before Index (0..Count). Throws std::out_of_range for any other index.
    virtual void Insert(int Index, QObject* Item);
    // Throw std::out_of_range on an empty list.
    virtual QObject* First();
    virtual QObject* Last();
    virtual void Clear();
    virtual int Count();
    // Throws std::out_of_range for an index outside 0..Count-1.
    virtual void Delete(int Index);

    // Throws std::out_of_range for an index outside 0..Count-1.
    QObject* Items(int Index);
    bool OwnsObjects() const { return FOwnsObjects; }

    // Holds the list's lock for the lifetime of the guard (the release also runs when the
    // guarded code throws).
    class TLockGuard {
    public:
        explicit TLockGuard(TKvSynchObjectList& List) : FList(List) { FList.Lock(); }
        ~TLockGuard() { FList.Unlock(); }
        TLockGuard(const TLockGuard&) = delete;
        TLockGuard& operator=(const TLockGuard&) = delete;

    private:
        TKvSynchObjectList& FList;
    };

private:
    void CheckIndex(int Index, int Upper) const;
    void FreeItem(QObject* Item) const;

    QList<QObject*> FList;
    QRecursiveMutex FLock;
    bool FOwnsObjects;
};
