-- The latest rejected hits between two days, newest first, at most $3, with their reason and agent text.
SELECT h.id, h.received_us, h.path, h.body, coalesce(r.reason, h.reason), coalesce(a.agent, h.user_agent)
FROM hits h LEFT JOIN reasons r ON r.id = h.reason_id LEFT JOIN user_agents a ON a.id = h.agent_id
WHERE NOT h.accepted AND h.day BETWEEN $1 AND $2 ORDER BY h.day DESC, h.id DESC LIMIT $3
