#pragma once

// Where things sit in the collection pop-up: the built-in sets, a separator, the user's
// sets, a separator, then the three commands.
struct CollectionRows {
    enum class Kind { Builtin, User, Separator, Command, Outside };
    static constexpr int CommandCount = 3;

    int builtins = 0;
    int users = 0;

    int rowForBuiltin(int i) const { return i; }
    int rowForUser(int i) const { return builtins + 1 + i; }
    int rowForCommand(int i) const { return builtins + users + 2 + i; }
    int count() const { return rowForCommand(CommandCount); }

    Kind kindOfRow(int row) const
    {
        if (row < 0 || row >= count())
            return Kind::Outside;
        if (row < builtins)
            return Kind::Builtin;
        if (row == builtins || row == builtins + users + 1)
            return Kind::Separator;
        return row <= builtins + users ? Kind::User : Kind::Command;
    }
    bool isCollection(int row) const
    {
        const Kind kind = kindOfRow(row);
        return kind == Kind::Builtin || kind == Kind::User;
    }
    // The row's place among the user sets, or among the commands; -1 for any other row.
    int userAt(int row) const { return kindOfRow(row) == Kind::User ? row - rowForUser(0) : -1; }
    int commandAt(int row) const
    {
        return kindOfRow(row) == Kind::Command ? row - rowForCommand(0) : -1;
    }

    // The row shown when the asked one is no collection: the first built-in set, else the
    // first user set (without built-in sets row 0 is the separator), else none.
    int fallbackRow() const
    {
        if (builtins > 0)
            return rowForBuiltin(0);
        return users > 0 ? rowForUser(0) : -1;
    }
};
