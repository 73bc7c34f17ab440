# Machines the bench scripts share; sourced, not run.

# A Commons mcp.json in $1 with $2 servers, half run by a command, half over http.
write_servers() {
    local file=$1 count=$2 sep="" i
    {
        echo '{"mcpServers": {'
        for i in $(seq -w 1 "$count"); do
            printf '%s' "$sep"
            sep=$',\n'
            if [ $((10#$i % 2)) -eq 0 ]; then
                printf '"server-%s": {"command": "npx", "args": ["-y", "server-%s"], "env": {"LEVEL": "%s"}}' "$i" "$i" "$i"
            else
                printf '"server-%s": {"type": "http", "url": "https://example.com/%s", "headers": {"X-Id": "%s"}}' \
                    "$i" "$i" "$i"
            fi
        done
        echo '}}'
    } > "$file"
}

# The machine of bench/sync_bench in $1 with $2 entries per family: all
# twelve agents, 200 MCP servers and two hooks for each of the eight events.
make_family_machine() {
    local home=$1 count=$2 event
    mkdir -p "$home/.agents/skills" "$home/.agents/commands" "$home/.agents/agents" "$home/.agents/hooks"
    seq -w 1 "$count" | sed 's/^/skill-/' | (cd "$home/.agents/skills" && xargs mkdir)
    seq -w 1 "$count" | awk -v dir="$home/.agents" '{
        print "skill " $1 > (dir "/skills/skill-" $1 "/SKILL.md"); close(dir "/skills/skill-" $1 "/SKILL.md")
        print "command " $1 > (dir "/commands/command-" $1 ".md"); close(dir "/commands/command-" $1 ".md")
        print "agent " $1 > (dir "/agents/agent-" $1 ".md"); close(dir "/agents/agent-" $1 ".md")
    }'
    echo "shared" > "$home/.agents/AGENTS.md"
    for dir in .claude .codex .config/opencode .pi .omp .openclaw .hermes .gemini .cursor \
               .codeium/windsurf .roo .cline; do
        mkdir -p "$home/$dir"
    done
    write_servers "$home/.agents/mcp.json" 200
    for event in SessionStart Stop PreToolUse PostToolUse Notification UserPromptSubmit SubagentStop PreCompact; do
        printf '[[hook]]\ncommand = "log-%s"\n\n[[hook]]\ncommand = "check-%s --fast"\nmatcher = "Bash"\ntimeout = 30\n' \
            "$event" "$event" > "$home/.agents/hooks/$event.toml"
    done
}

# Runs the rest of the line with the machine $home as the user's home.
in_home() {
    env -i HOME="$home" MIRTHLODE_TARGET_ROOT="$home" XDG_CONFIG_HOME="$home/.config" \
        XDG_STATE_HOME="$home/.local/state" "$@"
}
