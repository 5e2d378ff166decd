-- The latest ?3 rejected hits of days ?1 to ?2, newest first, with their reason and user agent text.
SELECT h.id, h.received_us, h.path, h.body, coalesce(r.reason, h.reason), coalesce(a.agent, h.user_agent)
FROM hits h LEFT JOIN reasons r ON r.id = h.reason_id LEFT JOIN user_agents a ON a.id = h.agent_id
WHERE h.accepted = 0 AND h.day BETWEEN ?1 AND ?2 ORDER BY h.day DESC, h.id DESC LIMIT ?3
